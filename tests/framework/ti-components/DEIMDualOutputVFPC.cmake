# CDEIMDualOutput on the platform's deinterlacer and scaler, alone and fed by CCaptureVFCC, with
# images of what each output shows written to ${CMAKE_BINARY_DIR}/artifacts.
pellix_add_test(test_DEIMDualOutput LABEL integration
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/DEIMDualOutputVFPC_test.cpp
  LIBS PellixServerTest PellixTestComponents)
target_include_directories(test_DEIMDualOutput PRIVATE
  ${CMAKE_SOURCE_DIR}/tests/platform/engine
  ${CMAKE_SOURCE_DIR}/tests/platform/capture
  ${CMAKE_SOURCE_DIR}/platform/capture)
