"""The real-browser judge: the program's writers, readers, portable files and saved profiles, checked by
headless Firefox ESR and Chromium. One line per check, a summary, exit status 0 only when all pass."""
import argparse
import json
import os
import shutil
import sqlite3
import subprocess
import sys
import tempfile
import time
from collections import Counter, OrderedDict
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import dataset  # noqa: E402
import js  # noqa: E402
from chromium import Chromium  # noqa: E402
from compare import (FIREFOX_ROOT_NAMES, Folder, all_urls, chromium_bookmarks, chromium_tree_roots,  # noqa: E402
                     compare_dates, compare_trees, copy_roots, firefox_bookmarks, firefox_folders, firefox_tree_roots,
                     interleave, normalize_url, record_root, short, split_path, squash_roots)
from marionette import Firefox  # noqa: E402

EXAMPLES = 4
RESULTS = []
DETAILS = []


def report(name, ok, counts, problems=()):
    problems = list(problems)
    line = "%s %s: %s" % ("PASS" if ok else "FAIL", name, counts)
    if not ok and problems:
        line += "; " + "; ".join(problems[:EXAMPLES])
        if len(problems) > EXAMPLES:
            line += "; ... (%d differences)" % len(problems)
    RESULTS.append((name, ok))
    DETAILS.append("%s %s: %s\n%s\n" % ("PASS" if ok else "FAIL", name, counts, "\n".join("    " + p for p in problems)))
    print(line, flush=True)


def check(name, counts, problems):
    report(name, not problems, counts, problems)


def wine_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def linux_path(path):
    return path[2:].replace("\\", "/") if path[:2].upper() == "Z:" else path


class Tool:
    def __init__(self, build):
        self.wine_run = os.path.join(build, "wine-run")
        self.exe = os.path.join(build, "tests", "browser_check", "orv_browser_check.exe")

    def __call__(self, *args):
        argv = [self.wine_run, self.exe] + [wine_path(a) if isinstance(a, Path) else a for a in args]
        done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        text = done.stdout.decode("utf-8", "replace").strip().splitlines()
        try:
            return json.loads(text[-1])
        except (IndexError, ValueError):
            return {"ok": False, "error": "tool gave no answer (exit %d): %s" % (
                done.returncode, done.stderr.decode("utf-8", "replace")[-300:])}


class Path(str):
    """A path the tool receives as a Windows path."""


def save_json(path, value):
    with open(path, "w", encoding="utf-8") as f:
        json.dump(value, f, ensure_ascii=False)
    return Path(path)


def load_json(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


# ---------------------------------------------------------------- expected trees of the program's writers

def refused(canonical, url):
    """Whether the browser whose forms `canonical` holds refused `url` (its form is None)."""
    return url in canonical and canonical[url] is None


def chromium_expected(records, base, canonical, titles):
    """The tree the Chromium writer should leave: `base` ({root: Folder}, None for a new file) plus every
    record whose duplicate key is new, in folders found by exact name or appended; the date (ms) of
    each bookmark written, by (root, folders, title, url); and the records it must leave out because
    Chromium drops their URL when it loads the file."""
    roots = copy_roots(base) if base else OrderedDict((k, Folder(k)) for k in ("bar", "other", "mobile"))
    seen = set(normalize_url(u) for u in all_urls(roots)) if base else set()
    dated, dropped = [], []
    for r in records:
        key = normalize_url(r["url"])
        if key in seen:
            continue
        if refused(canonical, r["url"]):
            dropped.append(r)
            continue
        seen.add(key)
        root, folders = record_root(r["folder_path"])
        key = {"bar": "bar", "other": "other", "menu": "other", "mobile": "mobile"}[root]
        node = roots[key]
        for name in folders:
            node = node.folder(titles.get(name, name))
        title = r["title"] or r["url"]
        item = (titles.get(title, title), canonical.get(r["url"]) or r["url"])
        node.children.append(item)
        dated.append(((key, tuple(titles.get(n, n) for n in folders)) + item, r["date_added"] * 1000))
    return roots, dated, dropped


def firefox_root_of(record):
    root, folders = record_root(record["folder_path"])
    return {"bar": "toolbar", "other": "unfiled", "menu": "menu", "mobile": "mobile"}[root], folders


def firefox_expected(records, present_keys, canonical):
    """The bookmarks the Firefox writer should add, as {root: Folder} holding only them, the records they
    come from, and the records it must leave out because Firefox refuses their URL (longer than
    dataset.FIREFOX_URL_MAX, or that Firefox's URL parser refuses). A URL counts as present when a bookmark of
    the same key (of Firefox's form) exists."""
    roots = OrderedDict((k, Folder(k)) for k in ("menu", "toolbar", "unfiled", "mobile"))
    seen = set(present_keys)
    written, too_long, unreadable = [], [], []
    for r in records:
        url = canonical.get(r["url"]) or r["url"]
        key = normalize_url(url)
        if key in seen:
            continue
        if len(url) > dataset.FIREFOX_URL_MAX:
            too_long.append(r)
            continue
        if refused(canonical, r["url"]):
            unreadable.append(r)
            continue
        seen.add(key)
        root, folders = firefox_root_of(r)
        node = roots[root]
        for name in folders:
            node = node.folder(name)
        node.children.append((r["title"], url))
        written.append(r)
    return roots, written, too_long, unreadable


def firefox_dated(records, canonical):
    """[((root, folders, title, url), dateAdded us)] the Firefox writer should give `records`."""
    out = []
    for r in records:
        root, folders = firefox_root_of(r)
        out.append(((root, tuple(folders), r["title"], canonical.get(r["url"]) or r["url"]), r["date_added"] * 1000000))
    return out


# ---------------------------------------------------------------- sessions

class Run:
    def __init__(self, work, build):
        self.work = work
        self.tool = Tool(build)
        self.records = dataset.program_records()
        self.ff_data = dataset.firefox_tree()
        self.cr_data = dataset.chromium_tree()
        self.urls = sorted(set(r["url"] for r in self.records))

    def dir(self, *names):
        path = os.path.join(self.work, *names)
        os.makedirs(path, exist_ok=True)
        return path

    def firefox(self, name, places=None):
        profile = self.dir(name, "profile")
        if places:
            shutil.copyfile(places, os.path.join(profile, "places.sqlite"))
        return Firefox(profile, self.dir(name, "home"))

    def chromium(self, name, bookmarks=None):
        udd = self.dir(name, "user-data")
        if bookmarks:
            os.makedirs(os.path.join(udd, "Default"), exist_ok=True)
            shutil.copyfile(bookmarks, os.path.join(udd, "Default", "Bookmarks"))
        return Chromium(udd, self.dir(name, "home"), self.dir(name, "extension"))

    # Firefox makes a new profile and quits: the empty places.sqlite of a new user; also its URL forms.
    def firefox_template(self):
        with self.firefox("ff-template") as ff:
            canonical = ff.run(js.FIREFOX_CANONICAL, self.urls + [p for p in PROBES])
        path = os.path.join(self.work, "ff-template", "profile", "places.sqlite")
        return path, canonical

    # Firefox fills its own profile: tree, tags, keywords, history; a copy is taken while it runs.
    def firefox_filled(self):
        name = "ff-filled"
        live = self.dir("ff-filled-live")
        html = os.path.join(self.work, "firefox-export.html")
        with self.firefox(name) as ff:
            tree = ff.run(js.FIREFOX_FILL, self.ff_data, 1700000000000)
            profile = ff.profile
            shutil.copyfile(os.path.join(profile, "places.sqlite"), os.path.join(live, "places.sqlite"))
            wal = os.path.join(profile, "places.sqlite-wal")
            if os.path.exists(wal):
                shutil.copyfile(wal, os.path.join(live, "places.sqlite-wal"))
            ff.run(js.FIREFOX_EXPORT_HTML, html)
        return {"tree": tree, "closed": os.path.join(self.work, name, "profile", "places.sqlite"),
                "live": os.path.join(live, "places.sqlite"), "live_wal": os.path.exists(wal), "html": html}

    def firefox_import_html(self, html, session):
        with self.firefox(session) as ff:
            return ff.run(js.FIREFOX_IMPORT_HTML, html)

    def chromium_filled(self):
        with self.chromium("cr-filled") as cr:
            titles = set(r["title"] or r["url"] for r in self.records)
            titles |= set(name for r in self.records for name in split_path(r["folder_path"]))
            canonical = cr.run(js.CHROMIUM_CANONICAL, {"urls": [], "titles": sorted(titles)})
            tree = cr.run(js.CHROMIUM_FILL, self.cr_data)
        # Chromium's own form of each URL is what it shows after loading a file that holds it, and None
        # for one that it drops on loading (its bookmarks API would also rewrite some URLs it keeps).
        canonical["urls"] = self.chromium_loaded_forms(self.urls)
        return {"tree": tree, "file": os.path.join(self.work, "cr-filled", "user-data", "Default", "Bookmarks"),
                "canonical": canonical}

    def chromium_loaded_forms(self, urls):
        """{url: the URL as Chromium shows it after loading a Bookmarks file holding it, None when dropped}."""
        kids = [{"type": "url", "name": "u%d" % i, "url": u, "id": str(10 + i), "date_added": "13300000000000000"}
                for i, u in enumerate(urls)]

        def root(name, id_, children):
            return {"type": "folder", "name": name, "id": id_, "children": children,
                    "date_added": "13300000000000000", "date_modified": "0"}
        doc = {"roots": {"bookmark_bar": root("Bookmarks bar", "1", kids), "other": root("Other bookmarks", "2", []),
                         "synced": root("Mobile bookmarks", "3", [])}, "version": 1}
        path = os.path.join(self.dir("cr-judge-file"), "Bookmarks")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(doc, f, ensure_ascii=False)
        tree = self.chromium_load("cr-judge", path)
        shown = {n["title"]: n.get("url") for n in tree[0]["children"][0].get("children", [])}
        return {u: shown.get("u%d" % i) for i, u in enumerate(urls)}

    def chromium_load(self, name, bookmarks):
        with self.chromium(name, bookmarks) as cr:
            return cr.run(js.CHROMIUM_TREE)

    def firefox_inspect(self, name, places, urls, tag_urls, keyword_urls):
        with self.firefox(name, places) as ff:
            result = ff.run(js.FIREFOX_INSPECT, urls, tag_urls, keyword_urls, PROBES)
        result["file"] = os.path.join(self.work, name, "profile", "places.sqlite")
        return result


PROBES = ["https://probe-one.example/Path?Q=1", "http://probe-two.example", "javascript:void('probe')",
          "data:text/plain,probe", "place:type=7&sort=4&maxResults=5"]


# ---------------------------------------------------------------- Firefox file checks

def places_facts(path):
    con = sqlite3.connect("file:%s?mode=ro" % path, uri=True)
    try:
        facts = {"integrity": [r[0] for r in con.execute("PRAGMA integrity_check")]}
        facts["orphans"] = con.execute(
            "SELECT b.id, b.type, IFNULL(b.title,'') FROM moz_bookmarks b WHERE b.guid <> 'root________' AND "
            "NOT EXISTS (SELECT 1 FROM moz_bookmarks p WHERE p.id = b.parent)").fetchall()
        facts["dangling"] = con.execute(
            "SELECT b.id FROM moz_bookmarks b WHERE b.type = 1 AND NOT EXISTS "
            "(SELECT 1 FROM moz_places h WHERE h.id = b.fk)").fetchall()
        facts["double_places"] = con.execute(
            "SELECT url, COUNT(*) FROM moz_places GROUP BY url HAVING COUNT(*) > 1").fetchall()
        cols = [r[1] for r in con.execute("PRAGMA table_info(moz_places)")]
        recalc = "recalc_frecency" if "recalc_frecency" in cols else "0"
        facts["places"] = {row[0]: row[1:] for row in con.execute(
            "SELECT h.url, h.frecency, %s, h.origin_id, "
            "(SELECT COUNT(*) FROM moz_origins o WHERE o.id = h.origin_id), "
            "(SELECT COUNT(*) FROM moz_bookmarks b WHERE b.fk = h.id), h.title FROM moz_places h" % recalc)}
        facts["stale_keywords"] = con.execute(
            "SELECT k.keyword, h.url FROM moz_keywords k LEFT JOIN moz_places h ON h.id = k.place_id WHERE NOT EXISTS "
            "(SELECT 1 FROM moz_bookmarks b WHERE b.fk = k.place_id)").fetchall()
        return facts
    finally:
        con.close()


def frecency_state(row):
    frecency, recalc, origin_id, origin_rows = row[:4]
    live = "computed" if (frecency is not None and frecency > 0) or recalc == 1 else "frecency %s, recalc %s" % (frecency, recalc)
    return live, bool(origin_id) and origin_rows == 1


def scheme(url):
    return url.split(":", 1)[0].lower()


def check_places_file(name, facts, new_urls, canonical):
    """integrity, orphans and Firefox's bookkeeping of the places the writer made."""
    problems = []
    if facts["integrity"] != ["ok"]:
        problems += ["integrity_check: %s" % short(t) for t in facts["integrity"][:3]]
    problems += ["orphan item id %d type %d %s" % (i, t, short(title)) for i, t, title in facts["orphans"]]
    problems += ["bookmark id %d points at no place" % i for (i,) in facts["dangling"]]
    problems += ["%d place rows for %s" % (n, short(u)) for u, n in facts["double_places"]]
    check("%s: file sound" % name, "integrity %s, %d orphan items, %d dangling bookmarks, %d URLs with two place rows"
          % ("/".join(facts["integrity"][:1]), len(facts["orphans"]), len(facts["dangling"]), len(facts["double_places"])),
          problems)

    places = facts["places"]
    refs = {}
    for p in PROBES:
        row = places.get(canonical.get(p) or p)
        if row:
            refs.setdefault(scheme(p), set()).add(frecency_state(row))
    problems = []
    judged = 0
    for url in sorted(new_urls):
        row = places.get(url)
        if row is None or not row[4]:
            continue
        judged += 1
        state = frecency_state(row)
        expected = refs.get(scheme(url)) or refs.get("https") or set()
        if state not in expected:
            problems.append("%s: %s, origin %s (Firefox's own: %s)" % (
                short(url, 60), state[0], "ok" if state[1] else "missing",
                ", ".join("%s, origin %s" % (s[0], "ok" if s[1] else "missing") for s in sorted(expected))))
    missing_refs = [p for p in PROBES if (canonical.get(p) or p) not in places]
    if missing_refs:
        problems.insert(0, "Firefox's own probe places missing: %s" % missing_refs)
    check("%s: frecency and origins" % name, "%d of %d new places as Firefox's own insert leaves them"
          % (judged - len([p for p in problems if not p.startswith("Firefox's own")]), judged), problems)

    # A page's title in moz_places is what history learnt from visiting it; Firefox's bookmark insert
    # leaves it NULL for a new place (the bookmark's title lives in moz_bookmarks).
    own = set(places[canonical.get(p) or p][5] for p in PROBES if (canonical.get(p) or p) in places)
    problems = ["Firefox's own new places hold titles %s, not NULL" % sorted(map(repr, own))] if own != {None} else []
    titled = [(u, places[u][5]) for u in sorted(new_urls) if places[u][4] and places[u][5] is not None]
    problems += ["%s: moz_places.title %s" % (short(u, 60), short(t, 40)) for u, t in titled]
    new_bookmarked = sum(1 for u in new_urls if places[u][4])
    check("%s: moz_places.title of new places" % name, "%d of %d new places with moz_places.title NULL, as "
          "Firefox's own insert leaves them" % (new_bookmarked - len(titled), new_bookmarked), problems)


def check_firefox_written(name, inspected, expected_roots, written, canonical, base_facts):
    tree = firefox_tree_roots(inspected["tree"])
    counts, problems = compare_trees(expected_roots, tree, exact=False)
    check("%s: tree" % name, "%d records written, %s" % (len(written), counts), problems)

    missing = [u for u, guid in inspected["found"].items() if not guid or guid.startswith("error")]
    check("%s: found by URL" % name, "%d/%d URLs found by PlacesUtils.bookmarks.fetch" % (
        len(inspected["found"]) - len(missing), len(inspected["found"])),
          ["%s (Firefox's form %s)" % (short(u, 70), short(canonical.get(u), 70)) if inspected["found"][u] is None
           else "%s: %s" % (short(u, 60), inspected["found"][u]) for u in missing])

    facts = places_facts(inspected["file"])
    new_urls = set(facts["places"]) - set(base_facts["places"]) - set(canonical.get(p) or p for p in PROBES)
    check_places_file(name, facts, new_urls, canonical)
    return facts


def write_tool(run, kind, store, records_path, mode):
    result = run.tool("write", kind, Path(store), records_path, mode)
    if not result.get("ok"):
        return None, "write failed: %s" % (result.get("message") or result.get("error"))
    return result, None


def folder_json(folder, dates):
    out = []
    for c in folder.children:
        if isinstance(c, Folder):
            out.append({"title": c.title, "children": folder_json(c, dates)})
        else:
            out.append({"title": c[0], "url": c[1], "dateAdded": dates.get(c[1], 0) * 1000})
    return out


def firefox_checks(run, template, canonical, filled, control=False):
    """The program's Firefox writer on a new file, merging into and replacing a profile Firefox filled.
    control: the same judges on files that Firefox itself wrote as the program should (new and merge)."""
    records_path = save_json(os.path.join(run.work, "program-records.json"), run.records)
    base_new = places_facts(template)
    base_filled = places_facts(filled["closed"])
    filled_bm = firefox_bookmarks(filled["tree"])
    filled_keys = set(normalize_url(b[3]) for b in filled_bm)
    template_keys = set(normalize_url(u) for u, row in base_new["places"].items() if row[4])
    prefix = "control (Firefox as the writer): " if control else ""

    cases = [("firefox new", template, "merge", template_keys), ("firefox merge", filled["closed"], "merge", filled_keys)]
    if not control:
        cases.append(("firefox replace", filled["closed"], "replace", set()))
    jobs = {}
    for name, source, mode, present in cases:
        name = prefix + name
        folder = ("control-" if control else "") + name.split(": ")[-1].replace(" ", "-")
        target = os.path.join(run.dir("written", folder), "places.sqlite")
        result = None
        if control:
            expected, written, _, _ = firefox_expected(run.records, present, canonical)
            dates = dict((canonical.get(r["url"]) or r["url"], r["date_added"]) for r in written)
            with run.firefox("ff-writes-" + folder, source) as ff:
                ff.run(js.FIREFOX_INSERT_TREE, OrderedDict((k, folder_json(v, dates)) for k, v in expected.items()))
            shutil.copyfile(os.path.join(run.work, "ff-writes-" + folder, "profile", "places.sqlite"), target)
        else:
            shutil.copyfile(source, target)
            result, error = write_tool(run, "firefox", target, records_path, mode)
            if error:
                report(name, False, error)
                continue
        jobs[name] = (target, mode, present, folder, result)

    # Each written record is looked up by its own URL; a skipped duplicate's URL is not a bookmark's.
    lookups = {name: sorted(set(r["url"] for r in firefox_expected(run.records, present, canonical)[1]))
               for name, (_, _, present, _, _) in jobs.items()}
    tag_urls = sorted(set(t["url"] for t in run.ff_data["tags"]))
    keyword_urls = sorted(set(k["url"] for k in run.ff_data["keywords"]))
    with ThreadPoolExecutor(3) as pool:
        futures = {name: pool.submit(run.firefox_inspect, "ff-" + folder, target, lookups[name], tag_urls, keyword_urls)
                   for name, (target, _, _, folder, _) in jobs.items()}
        inspected = {name: f.result() for name, f in futures.items()}

    for name, (target, mode, present, folder, result) in jobs.items():
        expected, written, too_long, unreadable = firefox_expected(run.records, present, canonical)
        base = base_new if name.endswith("firefox new") else base_filled
        facts = check_firefox_written(name, inspected[name], expected, written, canonical, base)
        got = inspected[name]
        now = firefox_bookmarks(got["tree"])
        now_urls = set(b[3] for b in now)
        found_dates = [((b[0], tuple(b[1]), b[2], b[3]), b[4]) for b in now]
        counts, problems = compare_dates(firefox_dated(written, canonical), found_dates, 1000000)
        check(name + ": date added of each bookmark written", counts, problems)
        check_overlong_left_out(name, facts, too_long, unreadable, written, result, len(run.records))
        before = 0 if mode == "replace" else (len(filled_bm) if name.endswith("firefox merge")
                                               else sum(row[4] for row in base_new["places"].values()))
        check_unreadable_left_out(name, facts, unreadable, written, inspected[name], result, before)
        if name.endswith("firefox merge"):
            history = [canonical.get(u) or u for u in run.urls if u.startswith("https://visited")]
            missing = [u for u in history if u not in now_urls]
            check(name + ": history-only URLs bookmarked", "%d/%d URLs that Firefox knew from history only"
                  " are bookmarks" % (len(history) - len(missing), len(history)), [short(u) for u in missing])
            kept_roots = firefox_tree_roots(filled["tree"])
            counts, problems = compare_trees(kept_roots, firefox_tree_roots(got["tree"]), exact=False)
            check(name + ": Firefox's own bookmarks kept", counts, problems)
            own = [((b[0], tuple(b[1]), b[2], b[3]), b[4]) for b in filled_bm]
            counts, problems = compare_dates(own, found_dates, 1000000)
            check(name + ": Firefox's own bookmarks keep their dates", counts, problems)
        if mode == "replace":
            program_urls = set(canonical.get(u) or u for u in run.urls)
            leftovers = [b for b in now if b[3] not in program_urls and b[3] not in set(canonical.get(p) or p for p in PROBES)]
            check("firefox replace: old bookmarks gone", "%d bookmarks left that the list does not hold" % len(leftovers),
                  ["%s in %s" % (short(b[3], 60), short("/".join([b[0]] + b[1]))) for b in leftovers])
            # The tags as Firefox held them before the replace (a URL tagged twice holds both sets).
            before = {}
            for b in filled_bm:
                if b[5]:
                    before[b[3]] = sorted(set(before.get(b[3], [])) | set(b[5].split(",")))
            keep = [u for u in tag_urls if u in program_urls and u in before]
            lost = [(u, before[u], got["tags"].get(u)) for u in keep if sorted(got["tags"].get(u) or []) != before[u]]
            check("firefox replace: tags kept on still-bookmarked URLs", "%d/%d URLs keep their tags" % (
                len(keep) - len(lost), len(keep)), ["%s had %s, now %s" % (short(u, 60), a, b) for u, a, b in lost])
            gone = [u for u in keyword_urls if u not in program_urls]
            stale = [(u, got["keywords"].get(u)) for u in gone if got["keywords"].get(u)]
            facts = places_facts(got["file"])
            problems = ["keyword %s of unbookmarked %s" % (k, short(u, 60)) for u, k in stale]
            problems += ["keyword row %s of %s with no bookmark" % (k, short(u, 60)) for k, u in facts["stale_keywords"]]
            check("firefox replace: no keyword of an unbookmarked URL", "%d keywords of %d unbookmarked URLs left, "
                  "%d keyword rows without a bookmark" % (len(stale), len(gone), len(facts["stale_keywords"])), problems)


def check_overlong_left_out(name, facts, too_long, unreadable, written, result, offered):
    """Firefox cannot show, find or back up a URL longer than it accepts: the writer must leave such a
    record out and count it as left out, as it does one whose URL Firefox cannot read (result is None for
    Firefox as the writer)."""
    stored = [u for u in facts["places"] if len(u) > dataset.FIREFOX_URL_MAX]
    problems = ["a place of %d characters was written: %s" % (len(u), short(u, 60)) for u in stored]
    counts = "%d of %d records with a URL over %d characters stored" % (len(stored), len(too_long), dataset.FIREFOX_URL_MAX)
    if result is not None:
        if result.get("added") != len(written):
            problems.append("%s records reported added, %d expected" % (result.get("added"), len(written)))
        if result.get("left_out") != len(too_long) + len(unreadable):
            problems.append("%s records reported left out, %d expected (%d too long, %d unreadable)" % (
                result.get("left_out"), len(too_long) + len(unreadable), len(too_long), len(unreadable)))
        if result.get("added", 0) + result.get("skipped", 0) + result.get("left_out", 0) != offered:
            problems.append("added %s + skipped %s + left out %s does not account for the %d records offered" % (
                result.get("added"), result.get("skipped"), result.get("left_out"), offered))
        counts += ", %s added + %s skipped + %s left out of %d offered" % (
            result.get("added"), result.get("skipped"), result.get("left_out"), offered)
    if not too_long:
        problems.append("the data holds no URL over %d characters" % dataset.FIREFOX_URL_MAX)
    check(name + ": URLs over %d characters left out and counted" % dataset.FIREFOX_URL_MAX, counts, problems)


def check_unreadable_left_out(name, facts, unreadable, written, inspected, result, before):
    """Every URL reported added is one Firefox shows, and none that Firefox's URL parser refuses is
    stored: such a record is left out and counted, and the log line says why. `before`: the bookmarks
    the file held that the write keeps."""
    found = inspected["found"]
    stored = [r["url"] for r in unreadable if r["url"] in facts["places"]]
    problems = ["a place Firefox cannot read was written: %s" % short(u, 60) for u in stored]
    # Also in another form: nothing but the records written may have joined what was there (the tree
    # is taken before Firefox's own probes are inserted).
    shown = len(firefox_bookmarks(inspected["tree"]))
    if shown != before + len(written):
        problems.append("Firefox shows %d bookmarks, %d expected (%d kept + %d written)" % (
            shown, before + len(written), before, len(written)))
    counts = "Firefox shows %d bookmarks (%d kept + %d written); %d of %d records with a URL Firefox refuses " \
             "stored" % (shown, before, len(written), len(stored), len(unreadable))
    shown = sum(1 for guid in found.values() if guid and not guid.startswith("error"))
    counts += "; %d of %d URLs of the records written found by PlacesUtils.bookmarks.fetch" % (shown, len(found))
    if result is not None:
        added = result.get("added")
        counts = "%s reported added, %s" % (added, counts)
        if added != shown:
            problems.append("%s reported added, %d shown by Firefox" % (added, shown))
        said = [line for line in result.get("log", []) if "left out" in line.lower()]
        counts += ", %s left out" % result.get("left_out")
        if unreadable and not said:
            problems.append("no log line names the records left out")
        elif said:
            counts += " (%s)" % short(said[0], 160)
    if not unreadable:
        problems.append("the data holds no URL that Firefox refuses")
    check(name + ": every URL reported added shown, unreadable ones left out and counted", counts, problems)


# ---------------------------------------------------------------- reverse: what Firefox filled, read by the program

def firefox_records_expected(tree, include_mobile=True):
    out = []
    for root, path, title, url, date, _, _ in firefox_bookmarks(tree):
        if root == "mobile" and not include_mobile:
            continue
        out.append({"folder_path": "/".join([FIREFOX_ROOT_NAMES[root]] + path), "title": title, "url": url,
                    "date_added": date // 1000000})
    return out


def same(text):
    return text


def compare_records(name, expected, got, dates=True, squash=same, path=same, source="Firefox"):
    """Lists of records, as multisets of (folder_path, title, url), each folder's order, and dates.
    `squash` evens out titles and folder names, `path` the whole folder path; `source` names where the
    expected records come from."""
    key = lambda r: (path(squash(r["folder_path"])), squash(r["title"]), r["url"])
    e, g = Counter(map(key, expected)), Counter(map(key, got))
    missing, extra = e - g, g - e
    elsewhere = {}
    for k in extra:
        elsewhere.setdefault(k[1:], k[0])
    moved = ["%s expected in %s, read in %s" % (short(k[2], 60), short(k[0], 60), short(elsewhere[k[1:]], 60))
             for k in missing if k[1:] in elsewhere]
    lost = ["missing %s" % short(k) for k in missing if k[1:] not in elsewhere]
    moved_keys = set(k[1:] for k in missing)
    strays = ["not a %s bookmark: %s" % (source, short(k)) for k in extra if k[1:] not in moved_keys]
    order = []
    order_bad = 0
    by_folder_e, by_folder_g = OrderedDict(), OrderedDict()
    for r in expected:
        by_folder_e.setdefault(key(r)[0], []).append(key(r))
    for r in got:
        by_folder_g.setdefault(key(r)[0], []).append(key(r))
    for folder, items in by_folder_e.items():
        have = [k for k in by_folder_g.get(folder, []) if k in e]
        if have != items and Counter(have) == Counter(items):
            order_bad += 1
            if order_bad <= 2:
                at = next(i for i, (a, b) in enumerate(zip(have, items)) if a != b)
                order.append("order in %s: item %d is %s, %s has %s" % (short(folder), at, short(have[at][1]),
                                                                         source, short(items[at][1])))
    date_bad = []
    if dates:
        want = {}
        for r in expected:
            want.setdefault(key(r), []).append(r["date_added"])
        for r in got:
            if key(r) in want and r["date_added"] not in want[key(r)]:
                date_bad.append(r)
    dated = ["date of %s is %d, %s has %s" % (short(r["url"], 50), r["date_added"], source, want[key(r)])
             for r in date_bad[:2]]
    problems = interleave(lost, moved, strays, order, dated)
    counts = "%d/%d bookmarks read, %d extra records, %d folders out of order" % (
        sum(e.values()) - sum(missing.values()), sum(e.values()), sum(extra.values()), order_bad)
    if dates:
        counts += ", %d dates differ" % len(date_bad)
    check(name, counts, problems)


def reverse_checks(run, filled):
    expected = firefox_records_expected(filled["tree"])
    out = os.path.join(run.work, "read-live.json")
    result = run.tool("read", "firefox", Path(filled["live"]), Path(out))
    if result.get("error") or not os.path.exists(out):
        report("firefox read of a live copy", False, "read failed: %s" % result.get("error"))
    else:
        got = load_json(out)
        compare_records("firefox read of a live copy%s" % (" (with -wal)" if filled["live_wal"] else " (no -wal seen)"),
                        expected, got)
        tags = [r for r in got if split_path(r["folder_path"])[:1] not in ([n] for n in FIREFOX_ROOT_NAMES.values())]
        check("firefox read: no tag entry as a bookmark", "%d records outside the four roots" % len(tags),
              ["%s in %s" % (short(r["url"], 60), short(r["folder_path"])) for r in tags])


def backup_checks(run, filled):
    """A backup of a places.sqlite whose recent changes sit in its -wal (Firefox closed by force), and a
    restore over a file that has such a -wal beside it."""
    if not filled["live_wal"]:
        report("firefox backup of a database with a -wal", False, "Firefox left no -wal to copy")
        return
    live = run.dir("backup", "live")
    target = os.path.join(live, "places.sqlite")
    shutil.copyfile(filled["live"], target)
    shutil.copyfile(filled["live"] + "-wal", target + "-wal")
    result = run.tool("backup", Path(target))
    if not result.get("ok"):
        report("firefox backup of a database with a -wal", False, "backup failed: %s" % result.get("error"))
        return
    backup = linux_path(result["path"])
    alone = os.path.join(run.dir("backup", "alone"), "places.sqlite")
    shutil.copyfile(backup, alone)
    read = os.path.join(run.work, "backup", "backup-read.json")
    run.tool("read", "firefox", Path(alone), Path(read))
    wanted = Counter(r["url"] for r in firefox_records_expected(filled["tree"]))
    got = Counter(r["url"] for r in load_json(read)) if os.path.exists(read) else Counter()
    missing = wanted - got
    # How many of them the database file held without its -wal: the check means something only when
    # some bookmarks lived in the -wal alone.
    plain = os.path.join(run.dir("backup", "plain"), "places.sqlite")
    shutil.copyfile(filled["live"], plain)
    con = sqlite3.connect("file:%s?mode=ro" % plain, uri=True)
    in_file = set(u for (u,) in con.execute("SELECT h.url FROM moz_bookmarks b JOIN moz_places h ON h.id = b.fk"))
    con.close()
    only_wal = sum(1 for u in wanted if u not in in_file)
    check("firefox backup of a database with a -wal", "%d/%d bookmarks in the backup file alone (%d of them were "
          "in the -wal only)" % (sum(wanted.values()) - sum(missing.values()), sum(wanted.values()), only_wal),
          ["missing %s" % short(u) for u in missing] + ([] if only_wal else ["no bookmark was in the -wal only"]))

    # What a forced close leaves: the restored file must not get the old -wal replayed into it.
    shutil.copyfile(filled["live"] + "-wal", target + "-wal")
    result = run.tool("restore", Path(target), Path(backup))
    if not result.get("ok"):
        report("firefox restore over a file with a -wal", False, "restore failed: %s" % result.get("error"))
        return
    left = [n for n in ("places.sqlite-wal", "places.sqlite-shm") if os.path.exists(os.path.join(live, n))]
    restored = os.path.join(run.work, "backup", "restored-read.json")
    run.tool("read", "firefox", Path(target), Path(restored))
    same_content = os.path.exists(restored) and Counter(r["url"] for r in load_json(restored)) == got
    check("firefox restore over a file with a -wal", "%s left beside the restored file, content %s the backup's" % (
        " and ".join(left) or "nothing", "equal to" if same_content else "differs from"),
        ["%s of the replaced file left beside it" % n for n in left] + ([] if same_content else ["content differs"]))


# ---------------------------------------------------------------- HTML

def squash(text):
    """Firefox's HTML import trims titles; runs of white space count as one blank on both sides, and HTML
    cannot carry a NUL."""
    return " ".join(text.replace("\0", "").split())


# The names by which a program record may name each Firefox root (any letter case).
ROOT_ALIASES = {"bookmarks toolbar": "Bookmarks Toolbar", "bookmarks bar": "Bookmarks Toolbar",
                "bookmarks menu": "Bookmarks Menu", "other bookmarks": "Other Bookmarks",
                "mobile bookmarks": "Mobile Bookmarks"}


def root_alias(folder_path):
    parts = folder_path.split("/", 1)
    parts[0] = ROOT_ALIASES.get(parts[0].lower(), parts[0])
    return "/".join(parts)


def html_escape(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")


class Root(Folder):
    """A root's folder at the top level of an HTML file; marker is its heading's attribute or None."""
    def __init__(self, title, key, marker):
        Folder.__init__(self, title)
        self.key = key
        self.marker = marker


HTML_ROOT_MARKERS = {"toolbar": "PERSONAL_TOOLBAR_FOLDER", "unfiled": "UNFILED_BOOKMARKS_FOLDER", "mobile": None}


def html_layout(records):
    """The tree of the program's HTML export: the menu's items at the top level (as Firefox writes it),
    every other root as one folder where its first record comes (a record naming no root lies in the
    bar), each folder's bookmarks and sub-folders in the order the records came. Bookmarks are
    (title, url, date_added) with the title the file shows (the URL for an empty one)."""
    top = Folder("menu")
    roots = {}
    for r in records:
        root, folders = firefox_root_of(r)
        node = top
        if root != "menu":
            if root not in roots:
                parts = split_path(r["folder_path"])
                title = parts[0] if len(parts) - len(folders) == 1 else "Bookmarks bar"
                roots[root] = Root(title, root, HTML_ROOT_MARKERS[root])
                top.children.append(roots[root])
            node = roots[root]
        for name in folders:
            node = node.folder(name)
        node.children.append((r["title"] or r["url"], r["url"], r["date_added"]))
    return top


def earliest_dates(folder):
    """{id(folder): the earliest date_added of a bookmark anywhere below it} for `folder` and every folder in it."""
    out = {}

    def walk(f):
        dates = []
        for c in f.children:
            if isinstance(c, Folder):
                d = walk(c)
                if d is not None:
                    dates.append(d)
            else:
                dates.append(c[2])
        out[id(f)] = min(dates) if dates else None
        return out[id(f)]

    walk(folder)
    return out


def write_reference_html(records, path):
    """The records as Firefox itself exports such a tree: the menu's items at the top, the toolbar and
    other bookmarks in marked folders, each folder dated by the earliest bookmark it holds (what the
    program's export should look like to a browser)."""
    top = html_layout(records)
    earliest = earliest_dates(top)

    def body(folder, indent):
        out = []
        for c in folder.children:
            if isinstance(c, Folder):
                marker = ' %s="true"' % c.marker if isinstance(c, Root) and c.marker else ""
                out += [indent + '<DT><H3 ADD_DATE="%d"%s>%s</H3>' % (earliest[id(c)], marker, html_escape(c.title)),
                        indent + "<DL><p>"]
                out += body(c, indent + "    ") + [indent + "</DL><p>"]
            else:
                # Browsers export the form they store, where a NUL in an address is "%00".
                href = html_escape(c[1].replace("\0", "%00"))
                out.append(indent + '<DT><A HREF="%s" ADD_DATE="%d">%s</A>' % (href, c[2], html_escape(c[0])))
        return out

    text = ["<!DOCTYPE NETSCAPE-Bookmark-file-1>",
            '<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=UTF-8">',
            "<TITLE>Bookmarks</TITLE>", "<H1>Bookmarks Menu</H1>", "<DL><p>"]
    text += body(top, "    ")
    text.append("</DL>")
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(text) + "\n")


def html_import_expected(records, canonical):
    """What Firefox's import of the program's export should hold: {menu, toolbar, unfiled: Folder} with
    titles squashed and URLs in Firefox's form (the mobile root a folder of the menu, as HTML has no
    marker for it; URLs Firefox refuses left out), the date of each bookmark (us) by (root, folders, title,
    url), and of each folder below the roots (the earliest bookmark it holds)."""
    top = html_layout(records)
    earliest = earliest_dates(top)
    roots = OrderedDict((k, Folder(k)) for k in ("menu", "toolbar", "unfiled"))
    dated, folder_dates = [], []

    def fill(target, source, root, path):
        for c in source.children:
            if isinstance(c, Folder):
                title = squash(c.title)
                f = target.folder(title)
                folder_dates.append(((root, path + (title,)), earliest[id(c)] * 1000000))
                fill(f, c, root, path + (title,))
            else:
                url = canonical.get(c[1]) or c[1]
                if len(url) > dataset.FIREFOX_URL_MAX or refused(canonical, c[1]):
                    continue
                target.children.append((squash(c[0]), url))
                dated.append(((root, path, squash(c[0]), url), c[2] * 1000000))

    for c in top.children:
        if isinstance(c, Root) and c.marker:
            fill(roots[c.key], c, c.key, ())
        elif isinstance(c, Folder):
            title = squash(c.title)
            folder_dates.append((("menu", (title,)), earliest[id(c)] * 1000000))
            fill(roots["menu"].folder(title), c, "menu", (title,))
        else:
            url = canonical.get(c[1]) or c[1]
            if len(url) <= dataset.FIREFOX_URL_MAX and not refused(canonical, c[1]):
                roots["menu"].children.append((squash(c[0]), url))
                dated.append((("menu", (), squash(c[0]), url), c[2] * 1000000))
    return roots, dated, folder_dates


def html_into_firefox(run, name, html, session):
    """Imports `html` into a new Firefox profile as its first import: every record must land in its root,
    each folder in the order of the records, with the records' dates and each folder dated by the
    earliest bookmark it holds."""
    tree = run.firefox_import_html(html, session)
    got = Counter()
    where = {}
    for root, path, title, url, _, _, _ in firefox_bookmarks(tree):
        k = (squash(title), url)
        got[(root, tuple(squash(p) for p in path)) + k] += 1
        where.setdefault(k, (root, path))
    canonical = run.ff_canonical
    want = Counter()
    mobile = []
    for r in run.records:
        root, folders = firefox_root_of(r)
        url = canonical.get(r["url"]) or r["url"]
        if len(url) > dataset.FIREFOX_URL_MAX or refused(canonical, r["url"]):
            continue  # Firefox's import refuses it
        if root == "mobile":
            mobile.append((squash(r["title"]), url))
            continue
        want[(root, tuple(squash(f) for f in folders), squash(r["title"]), url)] += 1
    missing = want - got
    problems = []
    for k, n in missing.items():
        at = where.get(k[2:])
        problems.append("%s expected in %s, %s" % (short(k[3], 50), short("/".join((k[0],) + k[1])),
                                                   "found in %s" % short("/".join([at[0]] + at[1])) if at else "not found"))
    mobile_lost = [m for m in mobile if m not in where]
    problems += ["mobile bookmark %s lost" % short(m[1], 60) for m in mobile_lost]
    by_root = Counter(k[0] for k in (want - missing).elements())
    check(name, "%d/%d bookmarks in their own root (%s), %d/%d mobile bookmarks kept (HTML has no mobile root)" % (
        sum(want.values()) - sum(missing.values()), sum(want.values()),
        ", ".join("%s %d" % kv for kv in sorted(by_root.items())), len(mobile) - len(mobile_lost), len(mobile)),
        problems)

    expected, dated, folder_dates = html_import_expected(run.records, canonical)
    found = squash_roots(firefox_tree_roots(tree), squash)
    counts, problems = compare_trees(expected, OrderedDict((k, found.get(k) or Folder(k)) for k in expected), exact=False)
    check(name + ": each folder's order of bookmarks and sub-folders", counts, problems)
    found_dates = [((b[0], tuple(squash(p) for p in b[1]), squash(b[2]), b[3]), b[4]) for b in firefox_bookmarks(tree)]
    counts, problems = compare_dates(dated, found_dates, 1000000)
    check(name + ": date added of each bookmark", counts, problems)
    found_folders = [((f[0], tuple(squash(p) for p in f[1])), f[2]) for f in firefox_folders(tree)]
    counts, problems = compare_dates(folder_dates, found_folders, 1000000)
    check(name + ": each folder dated by the earliest bookmark it holds", counts, problems)


def html_checks(run, filled, control=False):
    # The program's export, imported by Firefox as a new user's first import.
    html = os.path.join(run.work, "program-export.html")
    result = run.tool("export", save_json(os.path.join(run.work, "program-records.json"), run.records), Path(html))
    if not result.get("ok"):
        report("program HTML export into Firefox", False, "export failed: %s" % result.get("error"))
    else:
        html_into_firefox(run, "program HTML export into Firefox", html, "ff-import-html")
    if control:
        reference = os.path.join(run.work, "reference-export.html")
        write_reference_html(run.records, reference)
        html_into_firefox(run, "control (browsers' layout): HTML export into Firefox", reference, "ff-import-reference")

    # Firefox's own export, imported by the program.
    out = os.path.join(run.work, "import-firefox-html.json")
    result = run.tool("import", Path(filled["html"]), Path(out))
    if result.get("error") or not os.path.exists(out):
        report("Firefox HTML export into the program", False, "import failed: %s" % result.get("error"))
    else:
        expected = firefox_records_expected(filled["tree"], include_mobile=False)
        got = load_json(out)
        compare_records("Firefox HTML export into the program", expected, got, dates=False, squash=squash,
                        path=root_alias)

        def dated(records):
            out = []
            for r in records:
                parts = root_alias(squash(r["folder_path"])).split("/")
                out.append(((parts[0], tuple(parts[1:]), squash(r["title"]), r["url"]), r["date_added"]))
            return out
        counts, problems = compare_dates(dated(expected), dated(got), 1)
        check("Firefox HTML export into the program: date added of each bookmark (its ADD_DATE)", counts, problems)


# ---------------------------------------------------------------- Chromium

def chromium_checks(run, crfilled):
    records_path = save_json(os.path.join(run.work, "program-records.json"), run.records)
    canonical = crfilled["canonical"]["urls"]
    titles = crfilled["canonical"]["titles"]
    base = chromium_tree_roots(crfilled["tree"])
    jobs = {}
    for name, source, mode in (("chromium new", None, "merge"), ("chromium merge", crfilled["file"], "merge"),
                               ("chromium replace", crfilled["file"], "replace")):
        target = os.path.join(run.dir("written", name.replace(" ", "-")), "Bookmarks")
        if source:
            shutil.copyfile(source, target)
        result, error = write_tool(run, "chromium", target, records_path, mode)
        if error:
            report(name, False, error)
            continue
        jobs[name] = (target, mode, source, result)
    # A chain of folders deeper than Chromium loads, merged into Chromium's own file.
    deep_target = os.path.join(run.dir("written", "chromium-deep-chain"), "Bookmarks")
    shutil.copyfile(crfilled["file"], deep_target)
    deep_records = dataset.deep_chain_records()
    deep_result, deep_error = write_tool(run, "chromium", deep_target,
                                         save_json(os.path.join(run.work, "deep-chain-records.json"), deep_records),
                                         "merge")
    loads = dict((name, job[0]) for name, job in jobs.items())
    if deep_error:
        report("chromium deep chain", False, deep_error)
    else:
        loads["chromium deep chain"] = deep_target
    with ThreadPoolExecutor(4) as pool:
        futures = {name: pool.submit(run.chromium_load, "cr-" + name.replace(" ", "-"), target)
                   for name, target in loads.items()}
        trees = {name: f.result() for name, f in futures.items()}
    base_dated = [((b[0], b[1], b[2], b[3]), b[4]) for b in chromium_bookmarks(crfilled["tree"])]
    for name, (target, mode, source, result) in jobs.items():
        merged = mode == "merge" and source
        expected, dated, dropped = chromium_expected(run.records, base if merged else None, canonical, titles)
        counts, problems = compare_trees(expected, chromium_tree_roots(trees[name]), exact=True)
        check(name, counts, problems)
        check_chromium_counts(name, target, trees[name], crfilled["tree"] if merged else None, dated, dropped, result,
                              len(run.records))
        found = [((b[0], b[1], b[2], b[3]), b[4]) for b in chromium_bookmarks(trees[name])]
        counts, problems = compare_dates(dated + (base_dated if merged else []), found, 1000)
        check(name + ": date added of each bookmark%s" % (" (Chromium's own kept)" if merged else ""), counts, problems)
    if "chromium deep chain" in trees:
        check_deep_chain(run, deep_target, trees["chromium deep chain"], crfilled["tree"], deep_records, deep_result)
    return jobs


def file_urls_and_depth(path):
    """(every URL of a Bookmarks file as written, the deepest folder below a root in it)."""
    with open(path, encoding="utf-8") as f:
        doc = json.load(f)
    urls, deepest = [], [0]

    def walk(node, depth):
        for c in node.get("children", []) or []:
            if c.get("type") == "url":
                urls.append(c.get("url", ""))
            else:
                deepest[0] = max(deepest[0], depth + 1)
                walk(c, depth + 1)
    for root in (doc.get("roots") or {}).values():
        if isinstance(root, dict):
            walk(root, 0)
    return urls, deepest[0]


def check_chromium_counts(name, target, tree, base_tree, dated, dropped, result, offered):
    """Every URL the writer reports as added is one Chromium shows, and none that Chromium drops when it
    loads the file is written: such a record is left out and counted, and the log line says why."""
    shown = len(chromium_bookmarks(tree)) - (len(chromium_bookmarks(base_tree)) if base_tree else 0)
    written_urls, _ = file_urls_and_depth(target)
    in_file = set(written_urls)
    stored = [r["url"] for r in dropped if r["url"] in in_file]
    problems = ["a URL Chromium drops was written: %s" % short(u, 60) for u in stored]
    added, left_out, skipped = result.get("added"), result.get("left_out"), result.get("skipped")
    if added != shown:
        problems.append("%s reported added, %d new bookmarks shown by Chromium" % (added, shown))
    if added != len(dated):
        problems.append("%s reported added, %d expected" % (added, len(dated)))
    if left_out != len(dropped):
        problems.append("%s reported left out, %d records with a URL Chromium drops" % (left_out, len(dropped)))
    if (added or 0) + (skipped or 0) + (left_out or 0) != offered:
        problems.append("added %s + skipped %s + left out %s does not account for the %d records offered" % (
            added, skipped, left_out, offered))
    said = [line for line in result.get("log", []) if "left out" in line.lower()]
    if dropped and not said:
        problems.append("no log line names the records left out")
    if not dropped:
        problems.append("the data holds no URL that Chromium drops")
    counts = "%s reported added, %d new bookmarks shown by Chromium; %s left out, %d records with a URL Chromium " \
             "drops, %d of them in the file" % (added, shown, left_out, len(dropped), len(stored))
    if said:
        counts += " (%s)" % short(said[0], 160)
    check(name + ": every URL reported added shown, unreadable ones left out and counted", counts, problems)


def check_deep_chain(run, target, tree, base_tree, records, result):
    """Chromium loads nothing of a file with a folder chain deeper than its JSON reader goes: the writer
    must keep every folder within what Chromium loads, and the file must load whole."""
    shown = chromium_bookmarks(tree)
    read = os.path.join(run.work, "deep-chain-read.json")
    run.tool("read", "chromium", Path(target), Path(read))
    in_file = load_json(read) if os.path.exists(read) else []
    _, deepest = file_urls_and_depth(target)
    base = len(chromium_bookmarks(base_tree))
    problems = []
    if len(shown) != len(in_file):
        problems.append("Chromium shows %d of the %d bookmarks the file holds" % (len(shown), len(in_file)))
    if len(in_file) != base + (result.get("added") or 0):
        problems.append("the file holds %d bookmarks, %d were there and %s reported added" % (
            len(in_file), base, result.get("added")))
    if deepest > 96:
        problems.append("folders down to %d below a root" % deepest)
    deep = [b for b in shown if b[3] == records[1]["url"]]
    shallow = [b for b in shown if b[3] == records[0]["url"]]
    if not shallow:
        problems.append("the plain bookmark is not shown")
    if not deep and result.get("left_out") != 1:
        problems.append("the %d-folder record is neither shown nor counted as left out" % (
            len(split_path(records[1]["folder_path"])) - 1))
    moved = deep and len(deep[0][1]) < len(split_path(records[1]["folder_path"])) - 1
    said = [line for line in result.get("log", []) if "folder" in line.lower() and "deep" in line.lower()]
    if (moved or not deep) and not said:
        problems.append("no log line says what became of the %d-folder record" % (
            len(split_path(records[1]["folder_path"])) - 1))
    where = ("kept %d folders below its root" % len(deep[0][1])) if deep else "left out (%s)" % result.get("left_out")
    if said:
        where += " (%s)" % short(said[-1], 150)
    check("chromium deep chain: Chromium loads the file whole", "Chromium shows %d of the %d bookmarks the file holds, "
          "folders down to %d below a root; the %d-folder record %s; %s added, %s left out of %d" % (
              len(shown), len(in_file), deepest, len(split_path(records[1]["folder_path"])) - 1, where,
              result.get("added"), result.get("left_out"), len(records)), problems)


# ---------------------------------------------------------------- saved profiles

CHROMIUM_ROOT_LABELS = {"bar": "Bookmarks bar", "other": "Other bookmarks", "menu": "Other bookmarks",
                        "mobile": "Mobile bookmarks"}


def chromium_root_path(folder_path):
    """The folder path a record gets in a Chromium-family file (Firefox's menu and unfiled roots are one)."""
    root, folders = record_root(folder_path)
    return "/".join([CHROMIUM_ROOT_LABELS[root]] + folders)


def first_of_each_key(records, into_browser):
    """What a copy keeps of `records`: the first of each duplicate key, in their order; a Chromium-family
    file shows an empty title as the URL."""
    seen, out = set(), []
    for r in records:
        key = normalize_url(r["url"])
        if key not in seen:
            seen.add(key)
            out.append(dict(r, title=r["title"] or r["url"]) if into_browser else r)
    return out


def roundtrip_checks(run, sources):
    for name, kind, source in sources:
        dest = os.path.join(run.dir("roundtrip", name), "Bookmarks")
        export = os.path.join(run.dir("roundtrip", name), "export.json")
        db = os.path.join(run.dir("roundtrip", name), "app_data.db")
        before = os.path.join(run.dir("roundtrip", name), "source.json")
        run.tool("read", kind, Path(source), Path(before))
        result = run.tool("roundtrip", kind, Path(source), "chromium", Path(dest), Path(db), Path(export))
        if not result.get("ok"):
            report("saved profile round trip from %s" % name, False, "sync failed: %s" % short(
                result.get("error") or result.get("log"), 300))
            continue
        wanted = {}
        for r in load_json(before):
            wanted.setdefault(normalize_url(r["url"]), set()).add(r["url"])
        after = os.path.join(run.dir("roundtrip", name), "dest.json")
        run.tool("read", "chromium", Path(dest), Path(after))
        exported = os.path.join(run.dir("roundtrip", name), "exported-records.json")
        run.tool("import", Path(export), Path(exported))
        source_records = load_json(before)
        for label, records in (("browser -> profile -> browser", load_json(after)),
                               ("browser -> profile -> export", load_json(exported))):
            got = {}
            for r in records:
                got.setdefault(normalize_url(r["url"]), []).append(r["url"])
            problems = []
            for key, urls in wanted.items():
                back = got.get(key)
                if not back:
                    problems.append("%s lost" % short(sorted(urls)[0], 60))
                elif not set(back) <= urls:
                    problems.append("%s came back as %s" % (short(sorted(urls)[0], 60), short(back[0], 60)))
            check("saved profile round trip from %s, %s" % (name, label),
                  "%d/%d URLs back byte for byte" % (len(wanted) - len(problems), len(wanted)), problems)
            into_browser = label.endswith("browser")
            compare_records("saved profile round trip from %s, %s: each folder's order and every date" % (name, label),
                            first_of_each_key(source_records, into_browser), records,
                            path=chromium_root_path if into_browser else same, source="the source browser")


# ---------------------------------------------------------------- main

def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True)
    parser.add_argument("--work", help="a new or empty folder for the browsers' profiles and files "
                                       "(default: a new temporary one, removed at the end)")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    parser.add_argument("--control", action="store_true",
                        help="also run the Firefox writer's judges on files Firefox itself wrote (they should pass)")
    args = parser.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="orv-browser-check-")
    if os.path.isdir(work) and os.listdir(work):
        # Every profile and file must start new: a second run into the same folder would judge old files.
        print("browser-check: the work folder %s is not empty" % work, file=sys.stderr)
        return 2
    os.makedirs(work, exist_ok=True)
    started = time.time()
    run = Run(work, args.build)
    print("browser-check: %d program records, work folder %s" % (len(run.records), work), flush=True)
    try:
        with ThreadPoolExecutor(3) as pool:
            template = pool.submit(run.firefox_template)
            filled = pool.submit(run.firefox_filled)
            crfilled = pool.submit(run.chromium_filled)
            template, run.ff_canonical = template.result()
            filled = filled.result()
            crfilled = crfilled.result()
        reverse_checks(run, filled)
        backup_checks(run, filled)
        firefox_checks(run, template, run.ff_canonical, filled)
        if args.control:
            firefox_checks(run, template, run.ff_canonical, filled, control=True)
        chromium_checks(run, crfilled)
        html_checks(run, filled, args.control)
        roundtrip_checks(run, [("Chromium", "chromium", os.path.join(run.work, "written", "chromium-new", "Bookmarks")),
                               ("Firefox", "firefox", filled["closed"])])
    except Exception as e:  # a browser that would not start or answer: one failing line, then the summary
        import traceback
        traceback.print_exc()
        report("browser session", False, "%s: %s" % (type(e).__name__, e))
    with open(os.path.join(work, "details.txt"), "w", encoding="utf-8") as f:
        f.write("\n".join(DETAILS))
    failed = [n for n, ok in RESULTS if not ok]
    print("SUMMARY: %d checks, %d passed, %d failed (%.0f s)%s" % (
        len(RESULTS), len(RESULTS) - len(failed), len(failed), time.time() - started,
        "" if not failed else ": " + ", ".join(failed)), flush=True)
    if args.keep or args.work:
        print("every difference: %s" % os.path.join(work, "details.txt"))
    else:
        shutil.rmtree(work, ignore_errors=True)
    return 0 if not failed and RESULTS else 1


if __name__ == "__main__":
    sys.exit(main())
