#!/usr/bin/env bash
# The Debian package as Debian's own checkers see it, made by CPack from a
# build the suite has already built (no build of its own): lintian must
# report no error and no warning, the desktop entry must pass
# desktop-file-validate and the AppStream metadata appstreamcli's validation
# (offline). The package must carry the program stripped, its symbols in the
# -dbgsym package beside it, the manual page, the copyright file and the
# changelog.
#
#   package_checks.sh BUILD_DIR
set -euo pipefail
BUILD="$1"
WORK="$(mktemp -d /tmp/querlin-package-check.XXXXXX)"
trap 'rm -rf "$WORK"' EXIT

(cd "$WORK" && cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$WORK/out" >"$WORK/cpack.log" 2>&1) \
  || { cat "$WORK/cpack.log"; exit 1; }
DEB="$(ls "$WORK"/out/querlin_*.deb)"
DDEB="$(ls "$WORK"/out/querlin-dbgsym_*.ddeb)"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

mkdir "$WORK/root"
dpkg-deb -x "$DEB" "$WORK/root"
for path in usr/bin/querlin usr/share/man/man1/querlin.1.gz usr/share/doc/querlin/copyright \
            usr/share/doc/querlin/changelog.gz usr/share/applications/querlin.desktop \
            usr/share/metainfo/org.querlin.Querlin.metainfo.xml \
            usr/share/icons/hicolor/48x48/apps/querlin.png; do
  [ -e "$WORK/root/$path" ] || fail "the package lacks /$path"
done
if file "$WORK/root/usr/bin/querlin" | grep -q 'not stripped'; then
  fail "the program is not stripped"
fi
dpkg-deb -c "$DDEB" >"$WORK/dbgsym.list"
grep -q '/usr/lib/debug/.build-id/.*\.debug$' "$WORK/dbgsym.list" || fail "the -dbgsym package holds no symbols"

# Lintian: errors and warnings fail; the informational tags are printed.
# Run as root (CI is), it says so on standard error; that is not a finding.
lintian --tag-display-limit 0 --info "$DEB" >"$WORK/lintian.log" 2>&1 || true
cat "$WORK/lintian.log"
if grep -E '^(E|W): ' "$WORK/lintian.log" >/dev/null; then
  fail "lintian reports errors or warnings"
fi

desktop-file-validate "$WORK/root/usr/share/applications/querlin.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$WORK/root/usr/share/metainfo/org.querlin.Querlin.metainfo.xml" \
  || fail "appstreamcli validate"

[ "$failures" = 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "the package passes lintian, desktop-file-validate and appstreamcli"
