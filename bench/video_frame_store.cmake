# Decoding throughput: FFmpeg alone, FrameStore without filters, FrameStore with the costly
# filters. A plain timing program; it makes its own clip with the ffmpeg command.
if(TARGET quillon_video)
  add_executable(video_frame_store_bench ${CMAKE_CURRENT_LIST_DIR}/video_frame_store_bench.cpp)
  target_link_libraries(video_frame_store_bench PRIVATE quillon_video)
endif()
