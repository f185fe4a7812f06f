# The H.264 encoder wrapper on the simulated platform: its record checks, what the platform
# receives and the log shows, each failing step, and chains from a pattern source, and from the
# capture through the deinterlacer, through the encoder into stream files that real decoders read.
pellix_add_test(test_EncoderVIDENC LABEL integration TIMEOUT 600
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/EncoderVIDENC_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/EncoderVIDENCChain_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/EncoderVIDENCCapture_test.cpp
  LIBS PellixServerTest PellixPlatformEngine PellixEncoderTestSupport)
target_include_directories(test_EncoderVIDENC PRIVATE ${CMAKE_CURRENT_LIST_DIR})
