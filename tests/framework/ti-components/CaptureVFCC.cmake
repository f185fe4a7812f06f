# CCaptureVFCC on the platform's capture and receiver control.
pellix_add_test(test_CaptureVFCC LABEL integration
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/CaptureVFCC_test.cpp
  LIBS PellixServerTest PellixTestComponents)
target_include_directories(test_CaptureVFCC PRIVATE ${CMAKE_SOURCE_DIR}/tests/platform/engine)
