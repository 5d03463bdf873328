# The fuzz targets and the library each one tests; shared by the libFuzzer
# build and the corpus replay. tests/fuzz/<name>_fuzz.cpp is the target,
# tests/fuzz/corpus/<name>/ its corpus.
set(QUERLIN_FUZZ_TARGETS netservice hive connectionstring fieldtext)
set(QUERLIN_FUZZ_LIBS_netservice ql_login)
set(QUERLIN_FUZZ_LIBS_hive ql_platform)
set(QUERLIN_FUZZ_LIBS_connectionstring ql_data)
set(QUERLIN_FUZZ_LIBS_fieldtext ql_data)
