# The display controller wrapper on the simulated platform: its edge cases and failure paths, a
# source running into it, and the mode chosen for every real monitor of the test data.
pellix_add_test(test_DisplayVFDC LABEL integration TIMEOUT 300
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/DisplayVFDC_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DisplayVFDCChain_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/DisplayVFDCMonitors_test.cpp
    ${CMAKE_SOURCE_DIR}/tests/framework/edid/EdidReference.cpp
  LIBS PellixServerTest PellixTestComponents)
target_include_directories(test_DisplayVFDC PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}
  ${CMAKE_SOURCE_DIR}/tests/framework/edid)
