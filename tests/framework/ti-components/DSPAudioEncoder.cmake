# CDSPAudioEncoder on the platform's AAC encoder: its parameters, buffers and failing steps.
pellix_add_test(test_DSPAudioEncoder LABEL integration
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/DSPAudioEncoder_test.cpp
  LIBS PellixServerTest PellixTestComponents)
target_include_directories(test_DSPAudioEncoder PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}
  ${CMAKE_SOURCE_DIR}/tests/platform/engine)
