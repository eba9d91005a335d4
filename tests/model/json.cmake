# The JSON reading layer (simdjson On-Demand) under every JSON and JSON Lines reader.
qm_add_test(tst_jsonreader LABEL model SOURCES tst_jsonreader.cpp)
