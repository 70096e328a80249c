"""Expected and found bookmark trees, and how they differ."""
from collections import Counter, OrderedDict

FIREFOX_ROOT_NAMES = {"menu": "Bookmarks Menu", "toolbar": "Bookmarks Toolbar", "unfiled": "Other Bookmarks",
                      "mobile": "Mobile Bookmarks"}
FIREFOX_ROOT_BY_TREE = {"bookmarksMenuFolder": "menu", "toolbarFolder": "toolbar",
                        "unfiledBookmarksFolder": "unfiled", "mobileFolder": "mobile", "tagsFolder": "tags"}
CHROMIUM_ROOTS = ["bar", "other", "mobile"]

# Root names the program's records carry, by the root they stand for.
ROOT_NAMES = {"bookmarks bar": "bar", "bookmarks toolbar": "bar", "other bookmarks": "other",
              "bookmarks menu": "menu", "mobile bookmarks": "mobile"}


def normalize_url(url):
    """The program's duplicate key: trailing '/' removed, then ASCII letters lower-cased."""
    url = url.rstrip("/")
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in url)


def split_path(path):
    return [p for p in path.split("/") if p]


def record_root(folder_path):
    """(root, folders below it) of a program record; root is bar, other, menu or mobile."""
    parts = split_path(folder_path)
    if parts and parts[0].lower() in ROOT_NAMES:
        return ROOT_NAMES[parts[0].lower()], parts[1:]
    return "bar", parts


class Folder:
    def __init__(self, title):
        self.title = title
        self.children = []  # Folder or (title, url)

    def folder(self, title):
        for c in self.children:
            if isinstance(c, Folder) and c.title == title:
                return c
        f = Folder(title)
        self.children.append(f)
        return f


def lines(roots):
    """Folder path -> list of child descriptors, for every folder of {root name: Folder}."""
    out = OrderedDict()

    def walk(path, folder):
        out[path] = [("folder", c.title) if isinstance(c, Folder) else ("bookmark",) + c for c in folder.children]
        for c in folder.children:
            if isinstance(c, Folder):
                walk(path + "/" + c.title, c)

    for name, folder in roots.items():
        walk(name, folder)
    return out


def interleave(*kinds):
    """One example of each kind of difference first, then the next of each, so a short report shows them all."""
    out = []
    for row in range(max([len(k) for k in kinds] + [0])):
        out += [k[row] for k in kinds if row < len(k)]
    return out


def short(text, n=90):
    text = repr(text)
    return text if len(text) <= n else text[:n] + "...'"


def compare_trees(expected, found, exact=True):
    """Compares {root: Folder} trees. exact: nothing else may be there and every folder's children come in
    the expected order. Otherwise every expected item must be there and the expected items of each folder
    come in the expected order among whatever else it holds. Returns (counts text, problems)."""
    e, f = lines(expected), lines(found)
    gone, unexpected, order = [], [], []
    want_b = want_f = got_b = got_f = 0
    order_bad = 0
    for path, children in e.items():
        have = f.get(path)
        want_b += sum(1 for c in children if c[0] == "bookmark")
        want_f += sum(1 for c in children if c[0] == "folder")
        if have is None:
            gone.append("folder %s missing" % short(path))
            continue
        missing = Counter(children) - Counter(have)
        got_b += sum(1 for c in children if c[0] == "bookmark") - sum(n for c, n in missing.items() if c[0] == "bookmark")
        got_f += sum(1 for c in children if c[0] == "folder") - sum(n for c, n in missing.items() if c[0] == "folder")
        for c, n in missing.items():
            gone.append("%s %s missing in %s" % (c[0], short(c[1:]), short(path)))
        extra = Counter(have) - Counter(children)
        if exact:
            for c, n in extra.items():
                unexpected.append("unexpected %s %s in %s" % (c[0], short(c[1:]), short(path)))
        wanted = Counter(children)
        seen = Counter()
        kept = []
        for c in have:
            if seen[c] < wanted[c]:
                seen[c] += 1
                kept.append(c)
        if not missing and kept != children:
            order_bad += 1
            at = next(i for i, (a, b) in enumerate(zip(kept, children)) if a != b)
            order.append("order in %s: child %d is %s, expected %s" % (short(path), at, short(kept[at][1:]),
                                                                         short(children[at][1:])))
    if exact:
        for path in f:
            if path not in e:
                unexpected.append("unexpected folder %s" % short(path))
    problems = interleave(gone, unexpected, order)
    counts = "%d/%d bookmarks and %d/%d folders found, %d folders out of order" % (got_b, want_b, got_f, want_f, order_bad)
    return counts, problems


def firefox_tree_roots(tree, canonical=None):
    """{root: Folder} of a promiseBookmarksTree result (tags left out), separators left out."""
    roots = OrderedDict()
    for child in tree.get("children", []):
        key = FIREFOX_ROOT_BY_TREE.get(child.get("root"))
        if key in (None, "tags"):
            continue
        roots[key] = firefox_folder(child)
    return roots


def firefox_folder(node):
    folder = Folder(node.get("title", ""))
    for c in node.get("children", []) or []:
        if c.get("typeCode") == 2:
            folder.children.append(firefox_folder(c))
        elif c.get("typeCode") == 1:
            folder.children.append((c.get("title", "") or "", c.get("uri", "")))
    return folder


def firefox_bookmarks(tree):
    """[(root, [folders], title, url, dateAdded us, tags, keyword)] of a promiseBookmarksTree result."""
    out = []

    def walk(root, path, node):
        for c in node.get("children", []) or []:
            if c.get("typeCode") == 2:
                walk(root, path + [c.get("title", "")], c)
            elif c.get("typeCode") == 1:
                out.append((root, path, c.get("title", "") or "", c.get("uri", ""), c.get("dateAdded", 0),
                            c.get("tags"), c.get("keyword")))

    for child in tree.get("children", []):
        key = FIREFOX_ROOT_BY_TREE.get(child.get("root"))
        if key and key != "tags":
            walk(key, [], child)
    return out


def chromium_tree_roots(tree):
    """{bar, other, mobile: Folder} of a chrome.bookmarks.getTree() result; Chromium hides an empty mobile root."""
    kinds = {"bookmarks-bar": "bar", "other": "other", "mobile": "mobile"}
    found = {}
    for position, node in enumerate(tree[0]["children"]):
        found[kinds.get(node.get("folderType"), CHROMIUM_ROOTS[min(position, 2)])] = chromium_folder(node)
    return OrderedDict((key, found.get(key) or Folder(key)) for key in CHROMIUM_ROOTS)


def chromium_folder(node):
    folder = Folder(node.get("title", ""))
    for c in node.get("children", []) or []:
        if "url" in c:
            folder.children.append((c.get("title", ""), c["url"]))
        else:
            folder.children.append(chromium_folder(c))
    return folder


def copy_roots(roots):
    def copy(folder):
        f = Folder(folder.title)
        f.children = [copy(c) if isinstance(c, Folder) else c for c in folder.children]
        return f
    return OrderedDict((k, copy(v)) for k, v in roots.items())


def all_urls(roots):
    out = []

    def walk(folder):
        for c in folder.children:
            if isinstance(c, Folder):
                walk(c)
            else:
                out.append(c[1])
    for folder in roots.values():
        walk(folder)
    return out


def firefox_folders(tree):
    """[(root, (folders...), dateAdded us)] of every folder below the roots of a promiseBookmarksTree result."""
    out = []

    def walk(root, path, node):
        for c in node.get("children", []) or []:
            if c.get("typeCode") == 2:
                here = path + (c.get("title", "") or "",)
                out.append((root, here, c.get("dateAdded", 0)))
                walk(root, here, c)

    for child in tree.get("children", []):
        key = FIREFOX_ROOT_BY_TREE.get(child.get("root"))
        if key and key != "tags":
            walk(key, (), child)
    return out


def chromium_bookmarks(tree):
    """[(root, (folders...), title, url, dateAdded ms)] of a chrome.bookmarks.getTree() result."""
    kinds = {"bookmarks-bar": "bar", "other": "other", "mobile": "mobile"}
    out = []

    def walk(root, path, node):
        for c in node.get("children", []) or []:
            if "url" in c:
                out.append((root, path, c.get("title", ""), c["url"], c.get("dateAdded")))
            else:
                walk(root, path + (c.get("title", ""),), c)

    for position, node in enumerate(tree[0]["children"]):
        walk(kinds.get(node.get("folderType"), CHROMIUM_ROOTS[min(position, 2)]), (), node)
    return out


def squash_roots(roots, squash):
    """A copy of {root: Folder} with every folder name and title passed through `squash`."""
    def copy(folder):
        f = Folder(squash(folder.title))
        f.children = [copy(c) if isinstance(c, Folder) else (squash(c[0]), c[1]) for c in folder.children]
        return f
    return OrderedDict((k, copy(v)) for k, v in roots.items())


def when(stamp, per_second):
    """A time stamp of `per_second` units per second as a UTC date and time, for reports."""
    import time
    if stamp is None:
        return "none"
    seconds = stamp / per_second
    try:
        return time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(seconds)) + ("" if seconds == int(seconds) else "+")
    except (OverflowError, ValueError, OSError):
        return repr(stamp)


def compare_dates(expected, found, per_second):
    """expected, found: [(key, date)], key = (root, (folders...), title-or-nothing, url-or-nothing). Each expected
    key that is found must be found with its date (a key found twice holds both dates). Returns
    (counts text, problems); keys not found at all are the tree checks' business."""
    have = {}
    for key, date in found:
        have.setdefault(key, Counter())[date] += 1
    judged, problems = 0, []
    for key, date in expected:
        dates = have.get(key)
        if not dates:
            continue
        judged += 1
        if dates[date] > 0:
            dates[date] -= 1
            continue
        what = short(key[-1], 50) if len(key) > 2 else "folder"
        left = sorted(dates.elements()) or sorted(dates)
        problems.append("%s in %s: dated %s, expected %s" % (what, short("/".join((key[0],) + tuple(key[1]))),
                                                            when(left[0], per_second), when(date, per_second)))
    counts = "%d/%d dates as expected" % (judged - len(problems), judged)
    if expected and not judged:
        problems.append("none of the %d dated items was found" % len(expected))
    return counts, problems
