# The video decoder on files made by ffmpeg, and the main window's video mode.
qm_add_test(tst_videodecoder LABEL video TIMEOUT 600 SOURCES tst_videodecoder.cpp VideoFixtures.h)
qm_add_test(tst_videomode LABEL video WIDGETS SOURCES tst_videomode.cpp VideoFixtures.h)
target_include_directories(tst_videomode PRIVATE "${PROJECT_SOURCE_DIR}/tests/app")

# The decoder once more, with its own sources compiled under AddressSanitizer,
# so that a write past a picture's buffer (odd widths, unusual pixel formats)
# fails the run instead of corrupting the heap unnoticed. -O1 as the sanitizer
# recommends.
set(_qm_video_asan_sources PacketIndex.cpp PacketReader.cpp Mpeg4VopReader.cpp Mpeg12PictureReader.cpp PictureConverter.cpp
                           VideoSource.cpp VideoDecodeWorker.cpp VideoDecoder.cpp VideoDecoder.h)
list(TRANSFORM _qm_video_asan_sources PREPEND "${PROJECT_SOURCE_DIR}/src/video/")
list(APPEND _qm_video_asan_sources "${PROJECT_SOURCE_DIR}/src/model/LeftBehindThreads.cpp")
add_executable(tst_videodecoder_asan tst_videodecoder.cpp VideoFixtures.h ${_qm_video_asan_sources})
target_include_directories(tst_videodecoder_asan PRIVATE "${PROJECT_SOURCE_DIR}/tests/common" "${PROJECT_SOURCE_DIR}/src")
target_link_libraries(tst_videodecoder_asan PRIVATE Qt6::Core Qt6::Gui Qt6::Test PkgConfig::FFMPEG)
target_compile_options(tst_videodecoder_asan PRIVATE -fsanitize=address -fno-omit-frame-pointer -O1)
target_link_options(tst_videodecoder_asan PRIVATE -fsanitize=address)
target_compile_definitions(tst_videodecoder_asan PRIVATE QM_TESTS_DIR="${PROJECT_SOURCE_DIR}/tests")
add_test(NAME tst_videodecoder_asan COMMAND tst_videodecoder_asan)
set_tests_properties(tst_videodecoder_asan PROPERTIES
  LABELS "video"
  TIMEOUT 600
  ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=abort_on_error=1:detect_leaks=0")

# Not a test: a screenshot of the window showing a video's frame, for a person to look at.
add_executable(video_screenshot video_screenshot.cpp)
target_include_directories(video_screenshot PRIVATE "${PROJECT_SOURCE_DIR}/tests/common" "${PROJECT_SOURCE_DIR}/tests/app")
target_link_libraries(video_screenshot PRIVATE quillmark_widgets)
