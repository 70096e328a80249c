"""The generated bookmark sets, the same for every run (fixed seed)."""
import random

SEED = 20261211

# Root names as the program's records carry them; the Firefox and Chromium labels both occur.
PROGRAM_ROOTS = ["Bookmarks bar", "Other bookmarks", "Mobile bookmarks", "Bookmarks Menu", "Bookmarks Toolbar",
                 "Other Bookmarks"]

FOLDER_WORDS = ["Réseau", "日本語のフォルダ", "Ünïcödé & <b>bold</b>", "emoji 🚀✨", "עברית ימין", "Quote \"q\" 'a'",
                "Work", "work", "Docs", "Ça va", "Ελληνικά", "Кириллица", "tab\there", "  spaced  ", "AT&T", "x<y>z"]

TITLE_BITS = ["Ärger", "ß", "😀 smile", "<script>alert(1)</script>", "a & b", "\"quoted\"", "it's", "مرحبا",
              "שלום", "中文标题", "Ω≈ç√", "line", "Title"]


def odd_url(rng, i):
    """One URL of an awkward shape; every one parses as a URL in browsers."""
    kind = i % 14
    if kind == 0:
        return "https://site%d.example/path/%d?q=%d" % (i, i, i)
    if kind == 1:
        return "HTTPS://Upper%d.EXAMPLE/Path/CaseSensitive?Token=AbC%dxYz" % (i, i)
    if kind == 2:
        return "http://user:pw@host%d.example:8080/p/%d?x=1#frag" % (i, i)
    if kind == 3:
        return "https://bücher%d.example/straße/%d?q=ä" % (i, i)
    if kind == 4:
        return "https://space%d.example/a path/with spaces %d?q=a b" % (i, i)
    if kind == 5:
        return "javascript:void(alert(%d))" % i
    if kind == 6:
        return "data:text/html,<b>%d</b>" % i
    if kind == 7:
        return "https://long%d.example/" % i + "/".join("segment%04d" % j for j in range(rng.randint(150, 260)))
    if kind == 8:
        return "https://video%d.example/watch?v=dQw4w9WgXcQ%d" % (i, i)
    if kind == 9:
        return "https://barehost%d.example" % i
    if kind == 10:
        return "https://emoji%d.example/😀/%d?💡=1" % (i, i)
    if kind == 11:
        return "http://[2001:db8::%x]:8%03d/ipv6" % (i, i % 1000)
    if kind == 12:
        return "https://日本%d.example/パス?クエリ=値" % i
    return "https://plain%d.example/a/b/%d.html" % (i, i)


def odd_title(rng, i):
    kind = i % 7
    if kind == 0:
        return "Bookmark %d" % i
    if kind == 1:
        return " ".join(rng.choice(TITLE_BITS) for _ in range(3)) + " %d" % i
    if kind == 2:
        return ("Long title %d " % i) + "é" * 300
    if kind == 3:
        return "RTL \u202eevil\u202c %d" % i
    return "%s %d" % (rng.choice(TITLE_BITS), i)


def folder_paths(rng):
    paths = []
    for root in PROGRAM_ROOTS:
        paths.append(root)
        for a in rng.sample(FOLDER_WORDS, 4):
            paths.append(root + "/" + a)
            for b in rng.sample(FOLDER_WORDS, 2):
                if b == a:
                    continue
                paths.append(root + "/" + a + "/" + b)
                paths.append(root + "/" + a + "/" + b + "/Deep " + b)
    paths.append("")  # no root named: the bookmarks bar
    paths.append("Loose folder/Inner")  # no root named either
    return paths


# Plain URLs that the Firefox and Chromium profiles hold too, so that merges meet them as duplicates.
def shared_url(i):
    return "https://shared%d.example/page/%d" % (i, i)


# URLs that Firefox knows only from history before a merge writes them.
def history_url(i):
    return "https://visited%d.example/article/%d" % (i, i)


def program_records(count=900):
    """The list the program writes: odd URLs and titles in nested folders, with duplicates."""
    rng = random.Random(SEED)
    paths = folder_paths(rng)
    records = []
    date = 1600000000
    for i in range(count):
        date += rng.randint(1, 5000)
        records.append({"url": odd_url(rng, i), "title": odd_title(rng, i), "folder_path": rng.choice(paths),
                        "date_added": date})
    for i in range(30):
        records.insert(rng.randrange(len(records)), {"url": shared_url(i), "title": "Shared %d" % i,
                                                     "folder_path": rng.choice(paths), "date_added": date + i})
    for i in range(40):
        records.insert(rng.randrange(len(records)), {"url": history_url(i), "title": "Visited %d" % i,
                                                     "folder_path": rng.choice(paths), "date_added": date + i})
    # Duplicates: the same URL again, and again with an upper-case scheme and host or a trailing '/'.
    plain = [r for r in records if r["url"].startswith("https://site")]
    for r in rng.sample(plain, 20):
        records.append(dict(r, title=r["title"] + " (again)", folder_path=rng.choice(paths)))
    for r in rng.sample(plain, 20):
        variant = r["url"].replace("https://site", "HTTPS://SITE", 1)
        records.append(dict(r, url=variant if rng.random() < 0.5 else r["url"] + "/", title=r["title"] + " (variant)"))
    # URLs that differ only in the letter case of their path or of a percent escape: one duplicate key.
    for i in range(6):
        base = "https://casepath%d.example/Docs/Read%%2fMe%%3Fnow?Id=%d" % (i, i)
        variant = base.replace("Docs", "docs") if i % 2 else base.replace("%2f", "%2F").replace("%3F", "%3f")
        records.insert(rng.randrange(len(records)), {"url": base, "title": "Case %d" % i,
                                                     "folder_path": rng.choice(paths), "date_added": date + 50 + i})
        records.append({"url": variant, "title": "Case %d (other case)" % i, "folder_path": rng.choice(paths),
                        "date_added": date + 60 + i})
    # Firefox refuses URLs longer than 65536 characters; Chromium keeps them.
    records.insert(rng.randrange(len(records)), {"url": overlong_url(), "title": "Over 64 kB",
                                                 "folder_path": rng.choice(paths), "date_added": date + 70})
    # A Firefox query travels as a plain link.
    records.insert(rng.randrange(len(records)), {"url": PLACE_QUERY, "title": "Most visited (query)",
                                                 "folder_path": rng.choice(paths), "date_added": date + 71})
    # URLs that one browser or both cannot read, among sound ones of other kinds: each writer must leave
    # out what its browser refuses, and write the rest.
    for i, url in enumerate(URL_KINDS):
        records.insert(rng.randrange(len(records)), {"url": url, "title": "URL kind %d" % i,
                                                     "folder_path": rng.choice(paths), "date_added": date + 80 + i})
    # A NUL inside a title: the browsers keep it, HTML cannot carry it.
    records.insert(rng.randrange(len(records)), {"url": "https://nul-title.example/", "title": NUL_TITLE,
                                                 "folder_path": rng.choice(paths), "date_added": date + 120})
    return records


NUL_TITLE = "Before\x00after (a NUL inside)"

# Kinds of URL as the real browsers judge them (tests/core/browser_urls_test.cpp holds many more).
URL_KINDS = [
    "http://exa mple.com/kind",           # a blank in the host: Chromium escapes it, Firefox refuses it
    "https://[::1/bad-ipv6",              # neither
    "http://",                            # neither: no host
    "http://port.example:99999/",         # neither: no such port
    "http://%zz.example/",                # neither: a broken escape in the host
    "https://nul\x00host.example/",       # neither: a NUL in the host
    "https://nul-path.example/a\x00b",    # both: a NUL in the path is escaped
    "edge://favorites/",                  # both: another browser's own page
    "http://exa%20mple.com/escaped",      # Chromium only
    "http://star*host.example/",          # Chromium only
    "https://xn--a.example/",             # Chromium only: it does not decode an ASCII label
    "http://0x/",                         # Chromium only: Firefox reads no number in "0x"
    "view-source:not-a-page",             # Chromium only
    "chrome-extension://",                # Firefox only: Chromium needs a host there
    "filesystem:https://fs.example/",     # Firefox only: Chromium needs a storage type in the path
    "https://a\u05d0.example/",           # neither: a label that mixes directions
    "https://b\u00fccher-kind.example/",  # both
    "javascript:void('kind')",            # both
    "about:blank",                        # both
]


def deep_chain_records():
    """One plain bookmark and one 98 folders below the bookmarks bar: deeper than Chromium loads."""
    chain = "/".join("Level %02d" % i for i in range(1, 99))
    return [{"url": "https://shallow.example/", "title": "Shallow", "folder_path": "Bookmarks bar/Deep test",
             "date_added": 1700000000},
            {"url": "https://deep-chain.example/", "title": "Deep", "folder_path": "Bookmarks bar/" + chain,
             "date_added": 1700000001}]


FIREFOX_URL_MAX = 65536
PLACE_QUERY = "place:sort=8&maxResults=10"


def overlong_url():
    head = "https://overlong.example/"
    return head + "x" * (FIREFOX_URL_MAX + 1 - len(head))


def firefox_tree():
    """What real Firefox fills its own profile with: insertTree input per root (dates as Unix ms), plus
    tags, keywords and history-only visits."""
    rng = random.Random(SEED + 1)
    date = [1500000000000]

    def stamp():
        date[0] += rng.randint(1000, 900000000)
        return date[0]

    counter = [0]

    def bookmark(url=None):
        counter[0] += 1
        n = counter[0]
        return {"url": url or ("https://ff%d.example/%s/%d" % (n, rng.choice(["Mixed", "x y", "ü", "q?a=B"]), n)),
                "title": "%s ff %d" % (rng.choice(TITLE_BITS), n), "dateAdded": stamp()}

    def folder(title, depth):
        children = []
        for k in range(rng.randint(3, 8)):
            roll = rng.random()
            if roll < 0.12:
                children.append({"separator": True})
            elif roll < 0.3 and depth < 3:
                children.append(folder("%s %d.%d" % (rng.choice(FOLDER_WORDS), depth, k), depth + 1))
            else:
                children.append(bookmark())
        return {"title": title, "children": children, "dateAdded": stamp()}

    roots = {}
    for root in ("menu", "toolbar", "unfiled", "mobile"):
        top = folder(root, 0)["children"]
        top += [folder("%s folder %d" % (root, k), 1) for k in range(3)]
        top.insert(1, {"separator": True})
        roots[root] = top
    # Menu folders whose names hold root words stay ordinary folders.
    roots["menu"].append({"title": "Mobile apps (menu)", "children": [bookmark()], "dateAdded": stamp()})
    roots["menu"].append({"title": "Barbecue bookmarks", "children": [bookmark()], "dateAdded": stamp()})
    for i in range(20):
        rng.choice(list(roots.values())).append(dict(bookmark(shared_url(i)), title="Firefox shared %d" % i))
    # A query, and two URLs that differ only in the letter case of their path (dated apart from the
    # generator, so that the rest of the set stays as it was).
    roots["menu"].append({"url": "place:sort=14&maxResults=10", "title": "Recent tags (query)", "dateAdded": 1600000000000})
    roots["toolbar"].append({"url": "https://ffcase.example/Path/Page", "title": "Case upper", "dateAdded": 1600000001000})
    roots["unfiled"].append({"url": "https://ffcase.example/path/page", "title": "Case lower", "dateAdded": 1600000002000})
    # A NUL inside a title, which a reader that stops at the first NUL cuts short.
    roots["menu"].append({"url": "https://ffnul.example/", "title": NUL_TITLE, "dateAdded": 1600000003000})

    urls = []

    def collect(items):
        for item in items:
            if "url" in item:
                urls.append(item["url"])
            collect(item.get("children", []))

    for items in roots.values():
        collect(items)
    tagged = rng.sample(urls, 40) + [shared_url(i) for i in range(5)]
    tags = [{"url": u, "tags": rng.sample(["work", "read later", "日本", "émoji 🚀", "a&b"], rng.randint(1, 3))}
            for u in tagged]
    keywords = [{"url": u, "keyword": "kw%d" % k} for k, u in enumerate(rng.sample(urls, 12) + [shared_url(6)])]
    history = [history_url(i) for i in range(40)] + ["https://onlyvisited%d.example/" % i for i in range(20)]
    late = [dict(bookmark("https://late%d.example/Recent?Id=%d" % (i, i)), root=root)
            for i, root in enumerate(["toolbar", "menu", "unfiled", "mobile", "toolbar"])]
    return {"roots": roots, "tags": tags, "keywords": keywords, "history": history, "late": late}


def chromium_tree():
    """What real Chromium fills its own profile with: nested folders in the bar ("1") and other bookmarks ("2");
    its API offers no mobile root while that root is empty."""
    rng = random.Random(SEED + 2)
    counter = [0]

    def node(depth):
        counter[0] += 1
        n = counter[0]
        if depth < 3 and rng.random() < 0.25:
            return {"title": "%s %d" % (rng.choice(FOLDER_WORDS), n), "children": [node(depth + 1) for _ in range(rng.randint(1, 6))]}
        return {"title": "%s cr %d" % (rng.choice(TITLE_BITS), n),
                "url": "https://cr%d.example/%s/%d" % (n, rng.choice(["Case", "ä", "sp ace"]), n)}

    roots = {key: [node(0) for _ in range(25)] for key in ("1", "2")}
    for i in range(15):
        roots[rng.choice(["1", "2"])].append({"title": "Chromium shared %d" % i, "url": shared_url(i)})
    roots["2"].append({"title": NUL_TITLE, "url": "https://crnul.example/"})
    return roots
