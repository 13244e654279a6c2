# Test clips for the video reader and frame store, made with the ffmpeg command into
# <build>/test-clips/video once per build folder (nothing binary is committed).
#
# This file has two roles: included from tests/CMakeLists.txt it registers the generating step;
# run as a script (cmake -DCLIP_DIR=... -DFFMPEG=... -DFFPROBE=... -P extra.cmake) it makes
# the clips.

if(CMAKE_SCRIPT_MODE_FILE)
  file(MAKE_DIRECTORY "${CLIP_DIR}")

  function(make_clip name)
    execute_process(COMMAND "${FFMPEG}" -v error -nostdin -y ${ARGN} "${CLIP_DIR}/${name}"
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "ffmpeg could not make ${name}: ${rc}")
    endif()
  endfunction()

  set(src -f lavfi -i)
  # 6 s at 25 fps with B-frames and a keyframe every second: the main decoding clip.
  make_clip(h264_25.mp4 ${src} testsrc2=size=160x120:rate=25:duration=6
            -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 25 -bf 2)
  # Busy pictures (a fractal zoom under noise), three B-frames, a keyframe a second and more
  # at scene cuts: damage to them tells whether leaving pictures out changes a readable end.
  make_clip(busy.mp4 ${src} mandelbrot=size=320x240:rate=25 -vf noise=alls=20:allf=t -t 6
            -c:v libx264 -preset veryfast -g 25 -bf 3 -pix_fmt yuv420p)
  make_clip(ntsc.mp4 ${src} testsrc2=size=96x64:rate=30000/1001:duration=2
            -c:v libx264 -preset ultrafast -pix_fmt yuv420p)
  make_clip(yuv444.mkv ${src} testsrc2=size=96x64:rate=30:duration=2
            -c:v libx264 -preset ultrafast -pix_fmt yuv444p)
  # Decoder layouts and colour tags for the direct conversion, and ones that bypass it.
  make_clip(bt709.mp4 ${src} testsrc2=size=96x64:rate=25:duration=1
            -c:v libx264 -preset ultrafast -pix_fmt yuv420p -colorspace bt709
            -color_primaries bt709 -color_trc bt709)
  make_clip(yuv422.mkv ${src} testsrc2=size=96x64:rate=25:duration=1
            -c:v libx264 -preset ultrafast -pix_fmt yuv422p)
  make_clip(yuv420p10.mkv ${src} testsrc2=size=96x64:rate=25:duration=1
            -c:v libx264 -preset ultrafast -pix_fmt yuv420p10le)
  make_clip(gray.mkv ${src} testsrc2=size=96x64:rate=25:duration=1 -c:v ffv1 -pix_fmt gray)
  make_clip(vp8.webm ${src} testsrc2=size=96x64:rate=24:duration=2 -c:v libvpx -b:v 200k)
  make_clip(mjpeg.avi ${src} testsrc2=size=96x64:rate=25:duration=2 -c:v mjpeg -q:v 3)
  make_clip(qtrle.mov ${src} testsrc2=size=96x64:rate=10:duration=2 -c:v qtrle -pix_fmt rgb24)
  make_clip(anim.gif ${src} testsrc2=size=96x64:rate=10:duration=1 -pix_fmt pal8)
  make_clip(mpeg2.mpg ${src} testsrc2=size=96x64:rate=25:duration=2 -c:v mpeg2video -f mpeg)
  make_clip(h264.ts ${src} testsrc2=size=96x64:rate=25:duration=2
            -c:v libx264 -preset ultrafast -pix_fmt yuv420p)
  make_clip(flv1.flv ${src} testsrc2=size=96x64:rate=25:duration=2 -c:v flv)
  make_clip(still.png ${src} smptebars=size=64x48 -frames:v 1)
  # Flat colours for pixel checks: lossless RGB and 4:2:0 video.
  make_clip(red_rgb.mov ${src} color=c=0xC83232:size=32x32:rate=10:duration=1,format=rgb24
            -c:v qtrle -pix_fmt rgb24)
  make_clip(grey_420.mp4 ${src} color=c=0xC8C8C8:size=32x32:rate=10:duration=1,format=rgb24
            -c:v libx264 -preset ultrafast -pix_fmt yuv420p -qp 0)
  make_clip(tone.wav ${src} sine=frequency=440:duration=1)

  # The main clip cut in half: its index (at the end) is gone.
  file(SIZE "${CLIP_DIR}/h264_25.mp4" size)
  math(EXPR half "${size} / 2")
  execute_process(COMMAND dd if=${CLIP_DIR}/h264_25.mp4 of=${CLIP_DIR}/half.mp4
                          bs=${half} count=1 status=none RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "could not cut half.mp4")
  endif()

  # With the index first, cut at 60 %: the file opens and ends early.
  make_clip(faststart.mp4 ${src} testsrc2=size=160x120:rate=25:duration=6
            -c:v libx264 -preset ultrafast -pix_fmt yuv420p -movflags +faststart)
  file(SIZE "${CLIP_DIR}/faststart.mp4" size)
  math(EXPR cut "${size} * 6 / 10")
  execute_process(COMMAND dd if=${CLIP_DIR}/faststart.mp4 of=${CLIP_DIR}/faststart_cut.mp4
                          bs=${cut} count=1 status=none RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "could not cut faststart_cut.mp4")
  endif()

  # The main clip with the data of its last 2 seconds overwritten by noise; the index stays.
  execute_process(COMMAND "${FFPROBE}" -v error -select_streams v
                          -show_entries packet=pts_time,size,pos -of csv=p=0
                          "${CLIP_DIR}/h264_25.mp4"
                  OUTPUT_VARIABLE packets RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "ffprobe failed on h264_25.mp4")
  endif()
  string(REPLACE "\n" ";" packets "${packets}")
  set(first "")
  set(last 0)
  foreach(line IN LISTS packets)
    if(line MATCHES "^([0-9.]+),([0-9]+),([0-9]+)")
      if(CMAKE_MATCH_1 GREATER_EQUAL 4.0)
        if(first STREQUAL "" OR CMAKE_MATCH_3 LESS first)
          set(first ${CMAKE_MATCH_3})
        endif()
        math(EXPR end "${CMAKE_MATCH_3} + ${CMAKE_MATCH_2}")
        if(end GREATER last)
          set(last ${end})
        endif()
      endif()
    endif()
  endforeach()
  if(first STREQUAL "")
    message(FATAL_ERROR "no packets after 4 s in h264_25.mp4")
  endif()
  math(EXPR length "${last} - ${first}")
  make_clip(noise.raw -f lavfi -i anoisesrc=seed=7:duration=4:sample_rate=48000 -f u8)
  file(COPY_FILE "${CLIP_DIR}/h264_25.mp4" "${CLIP_DIR}/damaged.mp4")
  execute_process(COMMAND dd if=${CLIP_DIR}/noise.raw of=${CLIP_DIR}/damaged.mp4
                          bs=1 seek=${first} count=${length} conv=notrunc status=none
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "could not damage damaged.mp4")
  endif()

  # Streams whose times or lengths the container does not give straight: a stream starting at
  # 100 000 s, and raw elementary streams that state no length at all.
  make_clip(late.mkv ${src} testsrc2=size=96x64:rate=25:duration=2
            -c:v libx264 -preset ultrafast -pix_fmt yuv420p -output_ts_offset 100000)
  make_clip(raw.h264 ${src} testsrc2=size=96x64:rate=25:duration=2
            -c:v libx264 -preset ultrafast -pix_fmt yuv420p)
  make_clip(raw.mjpeg ${src} testsrc2=size=96x64:rate=25:duration=2 -c:v mjpeg)
  make_clip(raw.m2v ${src} testsrc2=size=96x64:rate=25:duration=2 -c:v mpeg2video)
  # Matroska states its length from 0, and the muxer moves the pictures 7 ms later for Opus
  # sound that starts before 0: the length it states falls short of the pictures.
  make_clip(opus_sound.mkv ${src} testsrc2=size=96x64:rate=25:duration=2
            ${src} sine=duration=2 -c:v libx264 -preset ultrafast -pix_fmt yuv420p -c:a libopus)
  # 2 s of pictures under 4 s of sound, in a container that states only the whole length.
  make_clip(long_sound.mkv ${src} testsrc2=size=96x64:rate=25:duration=2
            ${src} sine=duration=4 -c:v libx264 -preset ultrafast -pix_fmt yuv420p
            -c:a aac)

  # One-second keyframe spacing; then the data of the first packet, or of every packet,
  # overwritten by noise while the container around it stays whole.
  make_clip(gop25.mkv ${src} testsrc2=size=96x64:rate=25:duration=2
            -c:v libx264 -preset ultrafast -pix_fmt yuv420p -g 25)
  # The same pictures starting 2 s into 4 s of sound: they keep their place in time.
  make_clip(pictures_late.mkv -itsoffset 2 -i "${CLIP_DIR}/gop25.mkv"
            ${src} sine=duration=4:sample_rate=8000 -map 0:v -map 1:a -c:v copy -c:a pcm_s16le)
  # And under AAC sound, which the muxer starts 23 ms before them for the coder's priming.
  make_clip(primed.mkv -i "${CLIP_DIR}/gop25.mkv" ${src} sine=duration=2
            -map 0:v -map 1:a -c:v copy -c:a aac)
  execute_process(COMMAND "${FFPROBE}" -v error -select_streams v
                          -show_entries packet=size,pos -of csv=p=0 "${CLIP_DIR}/gop25.mkv"
                  OUTPUT_VARIABLE packets RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "ffprobe failed on gop25.mkv")
  endif()
  string(REPLACE "\n" ";" packets "${packets}")
  file(COPY_FILE "${CLIP_DIR}/gop25.mkv" "${CLIP_DIR}/first_damaged.mkv")
  file(COPY_FILE "${CLIP_DIR}/gop25.mkv" "${CLIP_DIR}/all_damaged.mkv")
  set(targets first_damaged.mkv all_damaged.mkv)
  foreach(line IN LISTS packets)
    if(line MATCHES "^([0-9]+),([0-9]+)")
      math(EXPR from "${CMAKE_MATCH_2} + 8")
      math(EXPR length "${CMAKE_MATCH_1} - 8")
      foreach(target IN LISTS targets)
        execute_process(COMMAND dd if=${CLIP_DIR}/noise.raw of=${CLIP_DIR}/${target}
                                bs=1 seek=${from} count=${length} conv=notrunc status=none
                        RESULT_VARIABLE rc)
        if(NOT rc EQUAL 0)
          message(FATAL_ERROR "could not damage ${target}")
        endif()
      endforeach()
      set(targets all_damaged.mkv)
    endif()
  endforeach()
  return()
endif()

find_program(QUILLON_FFMPEG ffmpeg)
find_program(QUILLON_FFPROBE ffprobe)
if(TARGET video_tests AND QUILLON_FFMPEG AND QUILLON_FFPROBE)
  set(clip_dir "${PROJECT_BINARY_DIR}/test-clips/video")
  add_custom_command(
    OUTPUT "${clip_dir}/clips.stamp"
    COMMAND "${CMAKE_COMMAND}" -DCLIP_DIR=${clip_dir} -DFFMPEG=${QUILLON_FFMPEG}
            -DFFPROBE=${QUILLON_FFPROBE} -P "${CMAKE_CURRENT_LIST_FILE}"
    COMMAND "${CMAKE_COMMAND}" -E touch "${clip_dir}/clips.stamp"
    DEPENDS "${CMAKE_CURRENT_LIST_FILE}"
    COMMENT "Making video test clips"
    VERBATIM)
  add_custom_target(video_test_clips DEPENDS "${clip_dir}/clips.stamp")
  add_dependencies(video_tests video_test_clips)
endif()
