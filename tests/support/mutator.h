#pragma once
// A seeded mutator for file formats: the same seed gives the same cases on every machine.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/bookmark_record.h"

namespace bm::test {

// What a format's mutations insert: single structural characters, and pairs repeated for deep
// nesting (an opener repeated n times, optionally followed by its closer n times).
struct MutationAlphabet {
    std::string structural;
    std::vector<std::pair<std::string, std::string>> nesting;
};

struct Mutant {
    std::string bytes;
    std::string description;  // how it was made, to name a failing case
    bool cutShort = false;    // a proper prefix of the original, nothing else changed
};

class Mutator {
public:
    Mutator(uint64_t seed, MutationAlphabet alphabet);

    // One to three random changes of `original`: byte flips, cuts, inserted structural characters,
    // deleted or duplicated spans, deep nesting. About one case in six is a plain cut.
    Mutant Next(const std::string& original);

    // The original cut at `length` (< its size).
    static Mutant CutAt(const std::string& original, size_t length);

    uint64_t Random();
    size_t Below(size_t bound);  // 0 when bound is 0

private:
    void FlipByte(std::string& bytes, std::string& how);
    void Cut(std::string& bytes, std::string& how);
    void InsertStructural(std::string& bytes, std::string& how);
    void DeleteSpan(std::string& bytes, std::string& how);
    void DuplicateSpan(std::string& bytes, std::string& how);
    void Nest(std::string& bytes, std::string& how);
    size_t SpanLength(size_t available);

    uint64_t state_;
    MutationAlphabet alphabet_;
};

// The outcome of a mutation run: how many cases were accepted or refused, and every fault by kind
// with the first few cases that showed one.
class MutationTally {
public:
    size_t cases = 0;
    size_t accepted = 0;
    size_t refused = 0;

    void Fault(const std::string& kind, const Mutant& mutant);
    // Reads one case through `read` (records, with an error text on failure) and counts it as accepted
    // or refused, recording what no reader may do: throw, take a cut-short input for a whole one, give
    // records next to an error, or a record without a URL. Returns false when the read threw.
    bool Read(const Mutant& mutant, const std::function<std::vector<BookmarkRecord>(std::wstring*)>& read,
              std::vector<BookmarkRecord>& records, std::wstring& error);
    size_t soundButSmaller = 0;  // cases read the same as the reference, sound files holding fewer records
    // The rule for every read that went through with no error (nor warning): it gives exactly what
    // the reference, an independent reading of the same case, gives (url, title and folder path of
    // each record, in order), and the reference finds the case sound (`reference` holds its
    // reading, or nothing when it calls the case damaged). Counts reads that match it in `matched`.
    void CheckSame(const Mutant& mutant, const std::vector<BookmarkRecord>& records, size_t original,
                   const std::optional<std::vector<BookmarkRecord>>& reference);
    size_t matched = 0;

    size_t Faults() const;
    std::string Summary(const std::string& format) const;

private:
    std::map<std::string, size_t> faults_;
    std::vector<std::string> examples_;
};

// Every cut of `original` (lengths 0 to size - 1), then `random` cases from the mutator.
std::vector<Mutant> AllCutsThenRandom(const std::string& original, Mutator& mutator, size_t random);

}  // namespace bm::test
