#!/usr/bin/env bash
# Builds the Debian package from a configured and built tree (build/ by default) and checks it as
# a user's machine would see it: its fields and files, the menu entry and the metainfo, the
# programs run from an unpacked copy without a display, and a complete German catalogue.
# Everything it makes goes to a temporary folder.
# Usage: bash scripts/check-package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

app_id=$(sed -n 's/^set(TOLVANE_APP_ID "\(.*\)")$/\1/p' CMakeLists.txt)
[ -n "$app_id" ] || fail "no TOLVANE_APP_ID in CMakeLists.txt"

echo "== cpack"
(cd "$build" && cpack -B "$work/out" >"$work/cpack.log") || { cat "$work/cpack.log"; fail "cpack failed"; }
debs=("$work"/out/tolvane_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one tolvane_*.deb"
deb=${debs[0]}

echo "== dpkg-deb --info"
dpkg-deb --info "$deb" >"$work/info"
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = tolvane ] || fail "Package field"
[ "$(field Section)" = utils ] || fail "Section field"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
field Description | grep -q "exported static website" || fail "no long description"
depends=$(field Depends)
# From dpkg-shlibdeps: the libraries the programs link, with versions.
for lib in libc6 libqt6core6 libqt6widgets6 libssl3 libstdc++6; do
  [[ ", $depends" == *", $lib (>= "* ]] || fail "Depends lacks $lib: $depends"
done
grep -q qt6-qpa-plugins <<<"$depends" || fail "Depends lacks the platform plugins"

echo "== dpkg-deb --contents"
dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/contents"
for file in /usr/bin/tolvane /usr/bin/tolvane-cli \
            "/usr/share/applications/$app_id.desktop" \
            "/usr/share/icons/hicolor/scalable/apps/$app_id.svg" \
            "/usr/share/metainfo/$app_id.metainfo.xml" \
            /usr/share/man/man1/tolvane.1 /usr/share/man/man1/tolvane-cli.1; do
  grep -qx "$file" "$work/contents" || fail "the package lacks $file"
done

echo "== dpkg -x"
dpkg -x "$deb" "$work/root"
root=$work/root
desktop=$root/usr/share/applications/$app_id.desktop
metainfo=$root/usr/share/metainfo/$app_id.metainfo.xml

echo "== desktop-file-validate"
desktop-file-validate "$desktop"
grep -qx 'Categories=Utility;' "$desktop" || fail "menu category"
grep -qx 'MimeType=inode/directory;' "$desktop" || fail "MimeType"
grep -qx 'Exec=tolvane %f' "$desktop" || fail "Exec with the folder argument"
grep -qx "Icon=$app_id" "$desktop" || fail "Icon name"

echo "== appstreamcli validate"
appstreamcli validate --no-net "$metainfo"
grep -q "<launchable type=\"desktop-id\">$app_id.desktop</launchable>" "$metainfo" \
  || fail "metainfo launches another desktop file"
grep -q '<screenshot type="default">' "$metainfo" || fail "metainfo has no screenshot"

echo "== the icon"
file --brief "$root/usr/share/icons/hicolor/scalable/apps/$app_id.svg" | grep -q SVG \
  || fail "the icon is no SVG"

echo "== manual pages"
for page in tolvane tolvane-cli; do
  man -l "$root/usr/share/man/man1/$page.1" 2>/dev/null | grep -q -- "--version" \
    || fail "the manual page of $page lacks --version"
done
man -l "$root/usr/share/man/man1/tolvane-cli.1" 2>/dev/null | grep -q "optimize" \
  || fail "the manual page of tolvane-cli lacks its verbs"

echo "== the unpacked programs"
# Without a display, as on a server or in CI.
headless=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
version=$(sed -n 's/^project(Tolvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$("${headless[@]}" "$root/usr/bin/tolvane-cli" --version)" = "tolvane-cli $version" ] \
  || fail "tolvane-cli --version"
[ "$("${headless[@]}" "$root/usr/bin/tolvane" --version)" = "Tolvane $version" ] \
  || fail "tolvane --version"
"${headless[@]}" "$root/usr/bin/tolvane" --help | grep -q '\[folder\]' || fail "tolvane --help"
cp -r examples/sample-site "$work/site"
"$root/usr/bin/tolvane-cli" scan "$work/site" >"$work/scan.txt"
"$root/usr/bin/tolvane-cli" scan "$work/site" --json >"$work/scan.json"
"$build/bin/tolvane-cli" scan "$work/site" --json >"$work/scan-build.json"
# The packaged program finds what the built one finds, and the sample site has duplicates.
cmp -s "$work/scan.json" "$work/scan-build.json" || fail "the packaged scan differs from the built one"
python3 -c 'import json, sys; assert json.load(open(sys.argv[1]))["groups"], "no duplicate group"' \
  "$work/scan.json"
diff -r examples/sample-site "$work/site" >/dev/null || fail "the scan changed the site"

echo "== German catalogue"
# The catalogue brought up to date with the sources, as the lead's lupdate would, then released.
lupdate=/usr/lib/qt6/bin/lupdate
lrelease=/usr/lib/qt6/bin/lrelease
cp translations/tolvane_de.ts "$work/tolvane_de.ts"
"$lupdate" -silent -I . -no-obsolete -locations none app table -ts "$work/tolvane_de.ts"
"$lrelease" "$work/tolvane_de.ts" -qm "$work/tolvane_de.qm" | tee "$work/lrelease.log"
grep -Eq 'Generated [0-9]+ translation\(s\) \([0-9]+ finished and 0 unfinished\)' "$work/lrelease.log" \
  || fail "unfinished German entries"
! grep -q 'untranslated' "$work/lrelease.log" || fail "untranslated German entries"
cmp -s translations/tolvane_de.ts "$work/tolvane_de.ts" \
  || fail "translations/tolvane_de.ts is behind the sources: run cmake --build build --target update_translations"

echo "1 passed, 0 failed: package $(basename "$deb")"
