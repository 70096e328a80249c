#pragma once
// The bookmark explorer's rows: loading a saved profile into it, and its search per keystroke.

#include <cstddef>
#include <vector>

#include "bench/timing.h"
#include "tests/support/temp_dir.h"

namespace bm::bench {

void BenchExplorer(size_t n, const test::TempDir& dir, std::vector<Row>& rows);

}  // namespace bm::bench
