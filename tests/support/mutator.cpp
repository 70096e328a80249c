#include "tests/support/mutator.h"

#include <algorithm>
#include <sstream>

namespace bm::test {

Mutator::Mutator(uint64_t seed, MutationAlphabet alphabet) : state_(seed), alphabet_(std::move(alphabet)) {}

uint64_t Mutator::Random() {
    // splitmix64: fixed arithmetic, unlike the standard distributions.
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

size_t Mutator::Below(size_t bound) { return bound == 0 ? 0 : static_cast<size_t>(Random() % bound); }

// Mostly short spans, now and then a long one.
size_t Mutator::SpanLength(size_t available) {
    if (available == 0) return 0;
    const size_t limit = Below(8) == 0 ? available : std::min<size_t>(available, 16);
    return 1 + Below(limit);
}

Mutant Mutator::CutAt(const std::string& original, size_t length) {
    Mutant mutant;
    mutant.bytes = original.substr(0, length);
    mutant.description = "cut at " + std::to_string(length);
    mutant.cutShort = length < original.size();
    return mutant;
}

Mutant Mutator::Next(const std::string& original) {
    if (Below(6) == 0 && !original.empty()) return CutAt(original, Below(original.size()));
    Mutant mutant;
    mutant.bytes = original;
    const size_t changes = 1 + Below(3);
    for (size_t i = 0; i < changes; ++i) {
        if (!mutant.description.empty()) mutant.description += "; ";
        switch (Below(alphabet_.nesting.empty() ? 5 : 6)) {
            case 0: FlipByte(mutant.bytes, mutant.description); break;
            case 1: Cut(mutant.bytes, mutant.description); break;
            case 2: InsertStructural(mutant.bytes, mutant.description); break;
            case 3: DeleteSpan(mutant.bytes, mutant.description); break;
            case 4: DuplicateSpan(mutant.bytes, mutant.description); break;
            default: Nest(mutant.bytes, mutant.description); break;
        }
    }
    return mutant;
}

void Mutator::FlipByte(std::string& bytes, std::string& how) {
    if (bytes.empty()) {
        how += "flip (empty)";
        return;
    }
    const size_t at = Below(bytes.size());
    const int bit = static_cast<int>(Below(8));
    bytes[at] = static_cast<char>(static_cast<unsigned char>(bytes[at]) ^ (1u << bit));
    how += "flip bit " + std::to_string(bit) + " at " + std::to_string(at);
}

void Mutator::Cut(std::string& bytes, std::string& how) {
    const size_t at = Below(bytes.size() + 1);
    bytes.resize(at);
    how += "cut at " + std::to_string(at);
}

void Mutator::InsertStructural(std::string& bytes, std::string& how) {
    const size_t at = Below(bytes.size() + 1);
    const size_t count = 1 + Below(3);
    std::string inserted;
    for (size_t i = 0; i < count; ++i) {
        inserted += alphabet_.structural.empty() ? static_cast<char>(Below(256))
                                                 : alphabet_.structural[Below(alphabet_.structural.size())];
    }
    bytes.insert(at, inserted);
    how += "insert " + std::to_string(count) + " at " + std::to_string(at);
}

void Mutator::DeleteSpan(std::string& bytes, std::string& how) {
    const size_t at = Below(bytes.size());
    const size_t length = SpanLength(bytes.size() - at);
    bytes.erase(at, length);
    how += "delete " + std::to_string(length) + " at " + std::to_string(at);
}

void Mutator::DuplicateSpan(std::string& bytes, std::string& how) {
    const size_t at = Below(bytes.size());
    const size_t length = SpanLength(bytes.size() - at);
    const std::string span = bytes.substr(at, length);
    const size_t to = Below(bytes.size() + 1);
    bytes.insert(to, span);
    how += "duplicate " + std::to_string(length) + " from " + std::to_string(at) + " to " + std::to_string(to);
}

void Mutator::Nest(std::string& bytes, std::string& how) {
    const auto& pair = alphabet_.nesting[Below(alphabet_.nesting.size())];
    // From a little to far more than any reader should accept.
    static const size_t kDepths[] = {2, 50, 300, 1100, 3000, 20000, 100000};
    size_t depth = kDepths[Below(sizeof kDepths / sizeof kDepths[0])];
    // Long openers are repeated less often, to keep a case within about a megabyte.
    depth = std::max<size_t>(1, std::min(depth, (size_t{1} << 20) / std::max<size_t>(1, pair.first.size())));
    const size_t at = Below(bytes.size() + 1);
    const bool closed = Below(2) == 0;
    std::string inserted;
    inserted.reserve(depth * (pair.first.size() + (closed ? pair.second.size() : 0)));
    for (size_t i = 0; i < depth; ++i) inserted += pair.first;
    if (closed)
        for (size_t i = 0; i < depth; ++i) inserted += pair.second;
    bytes.insert(at, inserted);
    how += std::string(closed ? "nest " : "open ") + std::to_string(depth) + " at " + std::to_string(at);
}

void MutationTally::Fault(const std::string& kind, const Mutant& mutant) {
    ++faults_[kind];
    if (examples_.size() < 8) examples_.push_back(kind + ": " + mutant.description);
}

bool MutationTally::Read(const Mutant& mutant, const std::function<std::vector<BookmarkRecord>(std::wstring*)>& read,
                         std::vector<BookmarkRecord>& records, std::wstring& error) {
    ++cases;
    error.clear();
    try {
        records = read(&error);
    } catch (...) {
        Fault("reader threw", mutant);
        return false;
    }
    const bool ok = error.empty();
    ++(ok ? accepted : refused);
    if (ok && mutant.cutShort) Fault("cut short read as success", mutant);
    if (!ok && !records.empty()) Fault("records with an error", mutant);
    for (const BookmarkRecord& r : records)
        if (r.url.empty()) Fault("empty url", mutant);
    return true;
}

void MutationTally::CheckSame(const Mutant& mutant, const std::vector<BookmarkRecord>& records, size_t original,
                              const std::optional<std::vector<BookmarkRecord>>& reference) {
    if (!reference) {
        Fault("damaged input read as sound", mutant);
        return;
    }
    bool same = records.size() == reference->size();
    for (size_t i = 0; same && i < records.size(); ++i) {
        const BookmarkRecord &a = records[i], &b = (*reference)[i];
        same = a.url == b.url && a.title == b.title && a.folder_path == b.folder_path;
    }
    if (!same) {
        Fault("read otherwise than the reference reads it", mutant);
        return;
    }
    ++matched;
    if (records.size() < original) ++soundButSmaller;
}

size_t MutationTally::Faults() const {
    size_t total = 0;
    for (const auto& [kind, count] : faults_) total += count;
    return total;
}

std::string MutationTally::Summary(const std::string& format) const {
    std::ostringstream out;
    out << format << ": " << cases << " cases, " << accepted << " accepted (" << soundButSmaller
        << " of them sound files holding less";
    if (matched > 0) out << ", " << matched << " the same as the reference reads them";
    out << "), " << refused << " refused, " << Faults() << " faults";
    for (const auto& [kind, count] : faults_) out << "; " << kind << " " << count;
    for (const std::string& example : examples_) out << "\n  " << example;
    return out.str();
}

std::vector<Mutant> AllCutsThenRandom(const std::string& original, Mutator& mutator, size_t random) {
    std::vector<Mutant> cases;
    for (size_t length = 0; length < original.size(); ++length) cases.push_back(Mutator::CutAt(original, length));
    for (size_t i = 0; i < random; ++i) cases.push_back(mutator.Next(original));
    return cases;
}

}  // namespace bm::test
