tivolux_add_test(test_capture_hls_playlist SOURCES HLSPlaylistTest.cpp LIBS tivolux_capture)
tivolux_add_test(test_capture_hls
  SOURCES
    RecorderProbe.h RecorderProbe.cpp
    RecorderFixture.h
    HLSCaptureTests.cpp
    HLSCaptureFailureTests.cpp
  LIBS tivolux_capture Qt6::Network
)
