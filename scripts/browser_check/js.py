"""Privileged scripts run inside the browsers (bodies of async functions; `args` / `arg` hold the inputs)."""

FIREFOX_CANONICAL = """
const [urls] = args;
const out = {};
for (const u of urls) {
  try { out[u] = new URL(u).href; } catch (e) { out[u] = null; }
}
return out;
"""

FIREFOX_FILL = """
const [data, historyBase] = args;
const B = PlacesUtils.bookmarks;
const roots = { menu: B.menuGuid, toolbar: B.toolbarGuid, unfiled: B.unfiledGuid, mobile: B.mobileGuid };
const convert = items => items.map(it => it.separator ? { type: B.TYPE_SEPARATOR }
  : it.children ? { type: B.TYPE_FOLDER, title: it.title, dateAdded: new Date(it.dateAdded), children: convert(it.children) }
  : { url: it.url, title: it.title, dateAdded: new Date(it.dateAdded) });
for (const [root, items] of Object.entries(data.roots)) {
  await B.insertTree({ guid: roots[root], children: convert(items) });
}
for (const t of data.tags) await PlacesUtils.tagging.tagURI(Services.io.newURI(t.url), t.tags);
for (const k of data.keywords) await PlacesUtils.keywords.insert({ keyword: k.keyword, url: k.url });
await PlacesUtils.history.insertMany(data.history.map((u, i) => ({
  url: u, title: "visited " + i, visits: [{ date: new Date(historyBase + i * 60000) }] })));
// A last few changes, small enough to stay in the -wal until Firefox's next checkpoint.
for (const b of data.late) {
  await B.insert({ parentGuid: roots[b.root], url: b.url, title: b.title, dateAdded: new Date(b.dateAdded) });
}
return await PlacesUtils.promiseBookmarksTree();
"""

FIREFOX_EXPORT_HTML = """
const { BookmarkHTMLUtils } = ChromeUtils.importESModule("resource://gre/modules/BookmarkHTMLUtils.sys.mjs");
await BookmarkHTMLUtils.exportToFile(args[0]);
return true;
"""

FIREFOX_IMPORT_HTML = """
const { BookmarkHTMLUtils } = ChromeUtils.importESModule("resource://gre/modules/BookmarkHTMLUtils.sys.mjs");
await BookmarkHTMLUtils.importFromFile(args[0], { replace: true });
return await PlacesUtils.promiseBookmarksTree();
"""

# The tree, each URL looked up the way the star button does, tags and keywords of some URLs, and a few
# places inserted by Firefox itself to compare the bookkeeping with.
FIREFOX_INSPECT = """
const [urls, tagUrls, keywordUrls, probes] = args;
const tree = await PlacesUtils.promiseBookmarksTree();
const found = {};
for (const u of urls) {
  try {
    const b = await PlacesUtils.bookmarks.fetch({ url: u });
    found[u] = b ? b.guid : null;
  } catch (e) { found[u] = "error: " + e; }
}
const tags = {};
for (const u of tagUrls) {
  try { tags[u] = PlacesUtils.tagging.getTagsForURI(Services.io.newURI(u)); } catch (e) { tags[u] = ["error: " + e]; }
}
const keywords = {};
for (const u of keywordUrls) {
  const k = await PlacesUtils.keywords.fetch({ url: u });
  keywords[u] = k ? k.keyword : null;
}
for (const p of probes) {
  await PlacesUtils.bookmarks.insert({ parentGuid: PlacesUtils.bookmarks.unfiledGuid, url: p, title: "probe" });
}
return { tree, found, tags, keywords };
"""

# Chromium's own form of each URL and title: what its tree shows for a bookmark it was given.
CHROMIUM_CANONICAL = """
const bar = (await chrome.bookmarks.getTree())[0].children[0];
const probe = await chrome.bookmarks.create({ parentId: bar.id, title: "canonical probe" });
const urls = {}, titles = {};
for (const u of arg.urls) {
  try { urls[u] = (await chrome.bookmarks.create({ parentId: probe.id, title: "p", url: u })).url; }
  catch (e) { urls[u] = null; }
}
for (const t of arg.titles) {
  titles[t] = (await chrome.bookmarks.create({ parentId: probe.id, title: t })).title;
}
await chrome.bookmarks.removeTree(probe.id);
return { urls, titles };
"""

CHROMIUM_FILL = """
const addAll = async (parentId, items) => {
  for (const it of items) {
    if (it.children) await addAll((await chrome.bookmarks.create({ parentId, title: it.title })).id, it.children);
    else await chrome.bookmarks.create({ parentId, title: it.title, url: it.url });
  }
};
const roots = (await chrome.bookmarks.getTree())[0].children;
const index = { "1": 0, "2": 1 };
for (const [root, items] of Object.entries(arg)) await addAll(roots[index[root]].id, items);
return await chrome.bookmarks.getTree();
"""

CHROMIUM_TREE = "return await chrome.bookmarks.getTree();"

# Firefox as the writer: the tree the program's writer should leave, inserted through Firefox's own API.
FIREFOX_INSERT_TREE = """
const [tree] = args;
const B = PlacesUtils.bookmarks;
const roots = { menu: B.menuGuid, toolbar: B.toolbarGuid, unfiled: B.unfiledGuid, mobile: B.mobileGuid };
const convert = items => items.map(it => it.children
  ? { type: B.TYPE_FOLDER, title: it.title, children: convert(it.children) }
  : { url: it.url, title: it.title, dateAdded: new Date(it.dateAdded) });
for (const [root, items] of Object.entries(tree)) {
  if (items.length) await B.insertTree({ guid: roots[root], children: convert(items) });
}
return true;
"""
