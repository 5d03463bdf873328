# The tests that stay Linux-only in the Windows build, as GoogleTest
# filters, each list by test program. They need the local store, which the
# Windows build leaves out with SQLite (every record-set test over a store
# file, and the row window's, which run over one).
set(QUERLIN_LINUX_ONLY_data
  LocalStore.*
  RecordSetFields.*
  RecordSet.*
  RecordSetBadInput.*
  Connection.TableNamesWithAndWithoutSystemTables
  RecordScan.*
  RowWindow.*
  RowWindowDeathTest.*
  Cases/RowWindowMoves.*)
