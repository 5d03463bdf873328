#!/usr/bin/env bash
# The program's command line, run as a user would run it from a terminal
# with no display at all: --help and --version answer on standard output and
# exit 0 without creating a window (a GUI application object would abort
# here for want of a display); an unknown option or an argument is reported
# on standard error with exit status 2 and nothing on standard output.
#
#   commandline.sh PROGRAM VERSION
set -uo pipefail
PROGRAM="$1"; VERSION="$2"
OUT="$(mktemp -d)"
trap 'rm -rf "$OUT"' EXIT
failures=0

# Case: label, expected status, what stdout must hold ("" = be empty),
# what stderr must hold ("" = be empty), then the arguments.
check() {
  local label="$1" status="$2" stdout="$3" stderr="$4"
  shift 4
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$PROGRAM" "$@" \
    >"$OUT/stdout" 2>"$OUT/stderr" </dev/null
  local got=$?
  local ok=1
  [ "$got" = "$status" ] || { echo "$label: exit status $got, wanted $status"; ok=0; }
  for stream in stdout stderr; do
    local want="${!stream}"
    if [ -z "$want" ]; then
      [ ! -s "$OUT/$stream" ] || { echo "$label: $stream should be empty"; ok=0; }
    elif ! grep -qF -- "$want" "$OUT/$stream"; then
      echo "$label: $stream lacks '$want'"; ok=0
    fi
  done
  if [ "$ok" = 0 ]; then
    sed 's/^/  stdout: /' "$OUT/stdout"; sed 's/^/  stderr: /' "$OUT/stderr"
    failures=$((failures + 1))
  fi
}

check "help"              0 "--version"            ""         --help
check "help, short"       0 "Usage:"               ""         -h
check "help, all"         0 "--version"            ""         --help-all
check "version"           0 "querlin $VERSION"     ""         --version
check "unknown option"    2 ""                     "bogus"    --bogus
check "unknown short one" 2 ""                     "'x'"      -x
check "an argument"       2 ""                     "table.mdb" table.mdb
check "help and junk"     2 ""                     "nonsense" --help --nonsense

# --version prints exactly one line.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$PROGRAM" --version >"$OUT/stdout" 2>/dev/null
if [ "$(cat "$OUT/stdout")" != "querlin $VERSION" ]; then
  echo "version: printed '$(cat "$OUT/stdout")'"; failures=$((failures + 1))
fi

[ "$failures" = 0 ] || { echo "$failures case(s) failed"; exit 1; }
echo "all cases passed"
