#include "bench/dataset.h"

#include <random>
#include <string>

namespace bm::bench {

std::vector<BookmarkRecord> MakeBookmarks(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    const std::wstring roots[] = {L"Bookmarks bar", L"Other bookmarks", L"Mobile bookmarks"};
    const std::wstring words[] = {L"Work", L"Reisen", L"Закладки", L"書籤", L"Café", L"Research", L"Recipes",
                                  L"Música", L"Projects", L"Αρχείο", L"News", L"Tools"};
    const std::wstring titles[] = {L"Überblick", L"Главная страница", L"ホーム", L"Start page", L"Ñandú facts",
                                   L"Documentation", L"日本語の記事", L"Blog post", L"Résumé tips", L"Forum"};

    // About 200 folders per 1k records, a few levels deep; the first three are the big ones.
    std::vector<std::wstring> folders;
    const size_t folderCount = std::max<size_t>(8, count / 50);
    for (size_t i = 0; i < folderCount; ++i) {
        std::wstring path = roots[i % 3];
        const int depth = 1 + static_cast<int>(random() % 4);
        for (int d = 0; d < depth; ++d) path += L"/" + words[random() % 12] + std::to_wstring(i % 7 + d);
        folders.push_back(path);
    }

    std::vector<BookmarkRecord> records;
    records.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        BookmarkRecord record;
        if (i > 10 && random() % 5 == 0) {
            // A repeat of an earlier address, differing in case or a trailing '/'.
            const BookmarkRecord& earlier = records[random() % records.size()];
            record.url = earlier.url;
            if (random() % 2) {
                record.url += L"/";
            } else {
                for (wchar_t& c : record.url)
                    if (c >= L'a' && c <= L'z' && random() % 3 == 0) c = static_cast<wchar_t>(c - L'a' + L'A');
            }
        } else {
            record.url = L"https://site" + std::to_wstring(seed) + L"-" + std::to_wstring(i % 997) + L".example.com/" +
                         L"page/" + std::to_wstring(i) + L"?ref=" + std::to_wstring(random() % 100000);
        }
        record.title = titles[random() % 10] + L" " + std::to_wstring(i);
        // A third of the records go to the three big folders, the rest spread over all folders.
        record.folder_path = random() % 3 == 0 ? folders[random() % 3] : folders[random() % folders.size()];
        record.date_added = 1500000000 + static_cast<int64_t>(random() % 200000000);
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace bm::bench
