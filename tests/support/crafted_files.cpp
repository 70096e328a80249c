#include "tests/support/crafted_files.h"

namespace bm::test {

std::string CraftedHtmlFile(size_t levels, const std::string& name, size_t links) {
    std::string out = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n";
    for (size_t i = 0; i < levels; ++i) out += "<DT><H3>" + name + "</H3>\n<DL><p>\n";
    for (size_t i = 0; i < links; ++i)
        out += "<DT><A HREF=\"https://x.example/" + std::to_string(i) + "\" ADD_DATE=\"1700000000\">L</A>\n";
    for (size_t i = 0; i < levels; ++i) out += "</DL><p>\n";
    out += "</DL><p>\n";
    return out;
}

std::string CraftedChromiumFile(size_t levels, const std::string& name, size_t links) {
    std::string inner;
    for (size_t i = 0; i < links; ++i) {
        if (i) inner += ",";
        inner += R"({"type":"url","name":"L","url":"https://x.example/)" + std::to_string(i) +
                 R"(","date_added":"13345678901234567"})";
    }
    std::string tree = inner;
    for (size_t i = 0; i < levels; ++i) tree = R"({"type":"folder","name":")" + name + R"(","children":[)" + tree + "]}";
    return R"({"roots":{"bookmark_bar":{"type":"folder","name":"Bookmarks bar","children":[)" + tree +
           R"(]},"other":{"type":"folder","children":[]}},"version":1})";
}

std::string CraftedJsonFile(const std::string& folderPath, size_t links) {
    std::string out = R"({"bookmarks":[)";
    for (size_t i = 0; i < links; ++i) {
        if (i) out += ",";
        out += R"({"url":"https://x.example/)" + std::to_string(i) + R"(","title":"L","folder_path":")" + folderPath +
               R"(","date_added":1700000000})";
    }
    return out + "]}";
}

std::string BrowserLayoutHtmlFile(size_t levels, size_t nameLength, size_t links) {
    std::string out =
        "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<!-- This is an automatically generated file.\n"
        "     It will be read and overwritten.\n     DO NOT EDIT! -->\n"
        "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n<TITLE>Bookmarks</TITLE>\n"
        "<H1>Bookmarks Menu</H1>\n\n<DL><p>\n"
        "    <DT><H3 ADD_DATE=\"1700000000\" LAST_MODIFIED=\"1700000000\" PERSONAL_TOOLBAR_FOLDER=\"true\">Bookmarks "
        "Toolbar</H3>\n    <DL><p>\n";
    for (size_t i = 0; i < levels; ++i)
        out += "<DT><H3 ADD_DATE=\"1700000000\" LAST_MODIFIED=\"1700000000\">" +
               std::string(nameLength, static_cast<char>('a' + i % 26)) + "</H3>\n<DL><p>\n";
    for (size_t i = 0; i < links; ++i) {
        const std::string n = std::to_string(i);
        out += "<DT><A HREF=\"https://www.example.com/articles/2024/a-long-and-descriptive-path/item-" + n +
               "?ref=bookmarks\" ADD_DATE=\"1700000000\" LAST_MODIFIED=\"1700000001\">The title of bookmark number " +
               n + ", as long as titles are</A>\n";
    }
    for (size_t i = 0; i < levels; ++i) out += "</DL><p>\n";
    out += "    </DL><p>\n</DL>\n";
    return out;
}

}  // namespace bm::test
