#!/usr/bin/env bash
# The installed program as a user meets it: `cmake --install` into a prefix
# that belongs to root, run by a normal user with a fresh home under a
# virtual display, the login window filled in by typing (host, SID, user,
# password) and Login pressed. Nothing is prepared: the Login must write its
# files and its hive under that home, register the data source in the
# user's own unixODBC file and show the users of the site.
#
#   installed_login.sh BUILD_DIR TESTDB_ENV_FILE
#
# Needs root (it makes the user); CI and the test scripts run as root.
set -euo pipefail
BUILD="$1"; ENVFILE="$2"
setting() { sed -n "s/^$1=//p" "$ENVFILE"; }
HOST="$(setting QUERLIN_TESTDB_HOST)"; PORT="$(setting QUERLIN_TESTDB_PORT)"
DBUSER="$(setting QUERLIN_TESTDB_USER)"; DBPASS="$(setting QUERLIN_TESTDB_PASSWORD)"
[ "$PORT" = 1521 ] || { echo "the test server must listen on 1521, where Login dials" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "needs root to make a user" >&2; exit 1; }

SID="INSTSITE$$"; DB="$(printf '%s' "$SID" | tr 'A-Z' 'a-z')"
ACCOUNT="qlinst$$"
PREFIX="$(mktemp -d /tmp/querlin-prefix.XXXXXX)"
HOMEDIR="$(mktemp -d /tmp/querlin-home.XXXXXX)"
export PGPASSWORD="$DBPASS"
PSQL=(psql -X -q -v ON_ERROR_STOP=1 -h "$HOST" -p "$PORT" -U "$DBUSER")
cleanup() {
  userdel "$ACCOUNT" >/dev/null 2>&1 || true
  rm -rf "$PREFIX" "$HOMEDIR"
  "${PSQL[@]}" -d querlin -c "DROP DATABASE IF EXISTS $DB WITH (FORCE)" >/dev/null 2>&1 || true
}
trap cleanup EXIT

cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null
chmod 755 "$PREFIX"
"${PSQL[@]}" -d querlin -c "CREATE DATABASE $DB TEMPLATE template0 ENCODING 'UTF8'" >/dev/null
"${PSQL[@]}" -d "$DB" -f "$(dirname "$0")/../../scripts/testdb-fixture.sql" >/dev/null
"${PSQL[@]}" -d "$DB" -c "CREATE SCHEMA scott; CREATE TABLE scott.emp (empno integer, ename varchar(10)); INSERT INTO scott.emp VALUES (7839, 'KING')" >/dev/null

# The account's home is where unixODBC looks for the user's data sources.
useradd -M -d "$HOMEDIR" -s /bin/bash "$ACCOUNT"
chown "$ACCOUNT" "$HOMEDIR"
chmod 700 "$HOMEDIR"

OUT="$HOMEDIR/session.log"
runuser -u "$ACCOUNT" -- env -i HOME="$HOMEDIR" PATH=/usr/bin:/bin LANG=C.UTF-8 \
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    set -u
    "$1/bin/querlin" >"$2" 2>&1 &
    pid=$!
    win=""
    for _ in $(seq 100); do
      win="$(xdotool search --name "^登录窗口$" 2>/dev/null | head -1)" && [ -n "$win" ] && break
      sleep 0.2
    done
    [ -n "$win" ] || { echo "no login window" >&2; kill $pid; exit 1; }
    xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win"
    sleep 0.5
    # Host, (port), SID, user, password, each field left by Enter; Enter on
    # the focused Login button presses it.
    xdotool key ctrl+a; xdotool type --delay 20 "$3"; xdotool key Return
    xdotool key Return
    xdotool key ctrl+a; xdotool type --delay 20 "$4"; xdotool key Return
    xdotool key ctrl+a; xdotool type --delay 20 "$5"; xdotool key Return
    xdotool type --delay 20 "$6"; xdotool key Return
    xdotool key Return
    shown=""
    for _ in $(seq 150); do
      if ! xdotool search --onlyvisible --name "^登录窗口$" >/dev/null 2>&1 &&
         xdotool search --onlyvisible --name "^Querlin$" >/dev/null 2>&1; then shown=1; break; fi
      sleep 0.2
    done
    kill $pid 2>/dev/null; wait $pid 2>/dev/null
    [ -n "$shown" ] || { echo "the browser window did not replace the login window" >&2; exit 1; }
  ' installed-login "$PREFIX" "$OUT" "$HOST" "$SID" "$DBUSER" "$DBPASS"

fail=0
check() { if ! eval "$1"; then echo "FAILED: $2" >&2; fail=1; fi; }
check '[ -f "$HOMEDIR/.local/share/querlin/tnsnames.ora" ]' "tnsnames.ora in the user's data folder"
check '[ -f "$HOMEDIR/.local/share/querlin/table.mdb" ]' "the favourites store in the user's data folder"
check '[ -f "$HOMEDIR/.config/querlin/registry.reg" ]' "the hive in the user's configuration folder"
check 'grep -q "^\[$SID\]" "$HOMEDIR/.odbc.ini"' "the data source in the user's unixODBC file"
check 'grep -q "^Servername=$HOST" "$HOMEDIR/.odbc.ini"' "the data source names the typed host"
check '! grep -rqa -- "$DBPASS" "$HOMEDIR" --exclude=session.log' "no file holds the password"
check '! grep -qa -- "$DBPASS" "$HOMEDIR/session.log"' "no output holds the password"
check '! grep -q "^\[$SID\]" /etc/odbc.ini' "nothing registered in the machine's file"
[ "$fail" = 0 ] || { cat "$OUT" >&2; exit 1; }
echo "installed program logged in as $ACCOUNT with a fresh home"
