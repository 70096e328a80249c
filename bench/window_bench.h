#pragma once
// What a user of the window waits for: the backups panel's first frame over large backups, and the
// real program's start to its first frame with a long-time user's data against the same without.

#include <cstddef>
#include <vector>

#include "bench/timing.h"
#include "tests/support/temp_dir.h"

namespace bm::bench {

void BenchWindow(size_t n, const test::TempDir& dir, std::vector<Row>& rows);

}  // namespace bm::bench
