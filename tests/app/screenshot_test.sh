#!/usr/bin/env bash
# The real program in each theme: started from a fresh folder, its X window photographed once it has
# drawn and stopped changing, the shots checked for an interface (many colours) and for the light
# theme being brighter than the dark one, then closed with WM_CLOSE and expected to end with code 0.
# Each theme is also photographed at the smallest window the program allows (980 x 640) with the
# Extra Large font, where every control must still be in view. Two states in both themes besides:
# the question a file restore asks (orvellane-THEME-restore-question.png), the question before a
# replace sync (orvellane-THEME-replace-question.png) and a saved profile whose
# name and bookmarks hold an emoji, drawn with the emoji font (orvellane-THEME-emoji-name.png), and
# the File menu open (orvellane-THEME-file-menu.png), and the start beside an app_data.db with a
# damaged page (orvellane-THEME-damaged-database.png).
#
#   screenshot_test.sh WINE_RUN ORVELLANE_EXE SET_SETTING_EXE CLOSE_PROGRAM_EXE SHOT_FOLDER \
#                      SEED_DATABASE_EXE CLICK_ITEM_EXE
#
# Needs an X display (scripts/test runs ctest under Xvfb) with the Wine server started on it. The
# shots stay in SHOT_FOLDER as orvellane-dark.png, orvellane-light.png, orvellane-dark-min-xl.png and
# orvellane-light-min-xl.png.
set -uo pipefail

if [ $# -ne 7 ]; then
  echo "usage: $0 WINE_RUN ORVELLANE_EXE SET_SETTING_EXE CLOSE_PROGRAM_EXE SHOT_FOLDER SEED_DATABASE_EXE CLICK_ITEM_EXE" >&2
  exit 2
fi
wine_run=$1 program=$2 set_setting=$3 close_program=$4 shots=$5 seed_database=$6 click_item=$7
# Run before the start with $folder set (seeding), and once the window has settled (input).
shot_setup="" shot_action=""
title="Orvellane - Browser Bookmark Manager & Sync Tool"
start_timeout=240  # seconds until the window is there and has drawn (a bound, not a pace)
close_timeout=30   # seconds until the closed program has ended
min_colours=16     # an empty or black window has one or two

fail() { echo "FAIL: $*" >&2; exit 1; }

[ -n "${DISPLAY:-}" ] || fail "no X display (run the tests through scripts/test)"
for tool in xwininfo xprop xwd convert identify; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/bootstrap installs it)"
done
mkdir -p "$shots" || fail "cannot create $shots"

work=$(mktemp -d "${TMPDIR:-/tmp}/orv-screenshot.XXXXXX") || fail "no temporary folder"
pid=""
cleanup() {
  # A program still running here means the test failed; it must not outlive the test.
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# Linux paths as the Windows programs see them.
windows_path() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }

# The X window of our own program: its title, and the Unix process that Wine runs it in.
our_window() {
  local id
  for id in $(xwininfo -root -tree 2>/dev/null | grep -F "\"$title\"" | awk '{print $1}'); do
    if xprop -id "$id" _NET_WM_PID 2>/dev/null | grep -qx "_NET_WM_PID(CARDINAL) = $pid"; then
      echo "$id"
      return 0
    fi
  done
  return 1
}

# Captures the window into $1 (PNG) and prints its colour count and pixel signature.
capture() {
  xwd -id "$2" -silent 2>/dev/null | convert xwd:- "$1" 2>/dev/null || return 1
  identify -format '%k %#' "$1" 2>/dev/null
}

# shoot_theme THEME NAME [KEY VALUE]...: one start of the program with the theme and the settings
# given after the name; the shot is orvellane-NAME.png.
shoot_theme() {
  local theme=$1 name=$2
  shift 2
  local folder="$work/$name"
  local exe="$folder/orvellane.exe"
  local shot="$shots/orvellane-$name.png"
  rm -f "$shot"
  mkdir -p "$folder" && cp "$program" "$exe" || fail "cannot copy the program into $folder"

  # The theme, and a window place that lies wholly on the screen, so that the shot shows all of it.
  "$wine_run" "$set_setting" "$(windows_path "$folder")\\app_data.db" \
      theme "$theme" win_left 20 win_top 20 win_right 1300 win_bottom 840 win_show 1 "$@" \
      </dev/null || fail "$name: could not write the settings"
  if [ -n "$shot_setup" ]; then eval "$shot_setup" || fail "$name: could not prepare the state"; fi

  echo "$name: starting at ${SECONDS}s"
  "$wine_run" "$exe" </dev/null &
  pid=$!

  local id="" previous="" current="" deadline=$((SECONDS + start_timeout))
  while [ $SECONDS -lt $deadline ]; do
    kill -0 "$pid" 2>/dev/null || { wait "$pid"; fail "$name: the program ended (code $?) before showing its window"; }
    if [ -z "$id" ]; then
      id=$(our_window) || id=""
    fi
    if [ -n "$id" ]; then
      # Drawn and settled: enough colours, and the same picture twice in a row.
      current=$(capture "$work/$name-now.png" "$id") || current=""
      if [ -n "$current" ] && [ "${current%% *}" -ge $min_colours ] && [ "$current" = "$previous" ]; then
        mv "$work/$name-now.png" "$shot"
        break
      fi
      previous=$current
    fi
    sleep 0.5
  done
  [ -n "$id" ] || fail "$name: no window titled \"$title\" of our process within ${start_timeout}s"
  if [ ! -f "$shot" ]; then
    [ -f "$work/$name-now.png" ] && cp "$work/$name-now.png" "$shot"
    fail "$name: the window did not show a settled interface within ${start_timeout}s (last: ${current:-no capture})"
  fi
  if [ -n "$shot_action" ]; then
    # The state the action brings about, once it has settled in its turn.
    local first=$current
    echo "$name: settled at ${SECONDS}s, acting"
    eval "$shot_action" || fail "$name: the action failed"
    rm -f "$shot"
    previous="" deadline=$((SECONDS + start_timeout))
    while [ $SECONDS -lt $deadline ]; do
      current=$(capture "$work/$name-now.png" "$id") || current=""
      if [ -n "$current" ] && [ "$current" != "$first" ] && [ "$current" = "$previous" ]; then
        mv "$work/$name-now.png" "$shot"
        break
      fi
      previous=$current
      sleep 0.5
    done
    [ -f "$shot" ] || fail "$name: the window did not settle after the action"
  fi
  echo "$name: $(identify -format '%wx%h, %k colours' "$shot"), shot $shot"

  # Waits for the program's end and gives its own exit code, as Windows has it (see close_program.cpp).
  echo "$name: closing at ${SECONDS}s"
  "$wine_run" "$close_program" "$(windows_path "$exe")" --wait "$close_timeout" </dev/null ||
    fail "$name: not closed cleanly (close_program code $?)"
  wait "$pid"
  local code=$?
  pid=""
  # 137: the Wine server's SIGKILL for an ended process that was slow to leave.
  [ $code -eq 0 ] || [ $code -eq 137 ] || fail "$name: exit code $code after WM_CLOSE"
}

brightness() { convert "$1" -colorspace gray -format '%[fx:mean]' info:; }

shoot_theme dark dark
shoot_theme light light
# The minimum size (later keys win over the place above) with font size 3, Extra Large.
for theme in dark light; do
  shoot_theme "$theme" "$theme-min-xl" win_right 1000 win_bottom 660 font_size 3
  size=$(identify -format '%w %h' "$shots/orvellane-$theme-min-xl.png")
  read -r width height <<<"$size"
  [ "$width" -lt 1100 ] && [ "$height" -lt 720 ] ||
    fail "$theme-min-xl: the window is ${width}x${height}, not the minimum size"
done

# A file restore asks first: a browser with a custom bookmarks file and one backup beside it, the
# backups panel on that browser, and a click on its Restore.
prefix=$(sed -n 's/^export WINEPREFIX="\(.*\)"/\1/p' "$wine_run")
bookmarks_json='{"checksum":"","roots":{"bookmark_bar":{"children":[{"date_added":"13300000000000000","id":"2","name":"Example","type":"url","url":"https://example.com/"}],"date_added":"13300000000000000","id":"1","name":"Bookmarks bar","type":"folder"},"other":{"children":[],"id":"3","name":"Other bookmarks","type":"folder"},"synced":{"children":[],"id":"4","name":"Mobile bookmarks","type":"folder"}},"version":1}'
shot_setup='mkdir -p "$folder/chrome" && printf "%s" "$bookmarks_json" >"$folder/chrome/Bookmarks" &&
  cp "$folder/chrome/Bookmarks" "$folder/chrome/Bookmarks.backup_20251207_101112.bak" &&
  "$wine_run" "$seed_database" "$(windows_path "$folder")\\app_data.db" custom-path chrome \
      "$(windows_path "$folder/chrome")\\Bookmarks" </dev/null'
shot_action='"$wine_run" "$click_item" "$(windows_path "$exe")" Restore </dev/null'
for theme in dark light; do
  shoot_theme "$theme" "$theme-restore-question" ui_backup_browser chrome
done

# A name and titles beyond U+FFFF, drawn with the emoji font where Windows has one (DejaVu Sans,
# which has the emoji faces, stands in for seguiemj.ttf in the prefix's Fonts folder).
emoji_font="$prefix/drive_c/windows/Fonts/seguiemj.ttf"
[ -f /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf ] || fail "fonts-dejavu-core is not installed"
mkdir -p "$(dirname "$emoji_font")" && cp /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf "$emoji_font" ||
  fail "cannot place the emoji font"
shot_setup='"$wine_run" "$seed_database" "$(windows_path "$folder")\\app_data.db" profile "Reisen {U+1F600} 2025" \
  https://beach.example/ "Strand {U+1F603}" https://museum.example/ "Museum {U+1F60E}" </dev/null >/dev/null'
shot_action=""
for theme in dark light; do
  shoot_theme "$theme" "$theme-emoji-name" ui_source_type 1 ui_source_profile 1 ui_explorer_type 1 ui_explorer_profile 1
done
rm -f "$emoji_font"
shot_setup=""

# The question before a replace sync names both ends: Google Chrome (a custom bookmarks file) into
# a saved profile, in replace mode, and a click on "Sync Now".
shot_setup='mkdir -p "$folder/chrome" && printf "%s" "$bookmarks_json" >"$folder/chrome/Bookmarks" &&
  "$wine_run" "$seed_database" "$(windows_path "$folder")\\app_data.db" custom-path chrome \
      "$(windows_path "$folder/chrome")\\Bookmarks" </dev/null &&
  "$wine_run" "$seed_database" "$(windows_path "$folder")\\app_data.db" profile "Arbeit" \
      https://intranet.example/ "Intranet" </dev/null >/dev/null'
shot_action='"$wine_run" "$click_item" "$(windows_path "$exe")" "Sync Now" </dev/null'
for theme in dark light; do
  shoot_theme "$theme" "$theme-replace-question" ui_source_type 0 ui_source_browser chrome ui_dest_mode 2 \
      ui_dest_profile 1 ui_sync_write_mode 1
done
shot_setup="" shot_action=""

# The File menu open over the panels: menus are opaque in both themes.
shot_action='"$wine_run" "$click_item" "$(windows_path "$exe")" File </dev/null'
for theme in dark light; do
  shoot_theme "$theme" "$theme-file-menu"
done
shot_action=""

# The fourth page of app_data.db (the first of its bookmarks table) zeroed after the settings were
# written: the program goes on without the file, and the log says what works and what does not.
shot_setup='dd if=/dev/zero of="$folder/app_data.db" bs=4096 seek=3 count=1 conv=notrunc 2>/dev/null'
for theme in dark light; do
  shoot_theme "$theme" "$theme-damaged-database"
done
shot_setup=""

dark=$(brightness "$shots/orvellane-dark.png")
light=$(brightness "$shots/orvellane-light.png")
echo "mean brightness: dark $dark, light $light"
awk -v d="$dark" -v l="$light" 'BEGIN { exit !(l > d + 0.2) }' ||
  fail "the light theme is not clearly brighter than the dark one"
echo "PASS"
