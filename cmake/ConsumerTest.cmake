# A user's view of the package: install this build into a fresh prefix, build
# examples/ against it with find_package(orv), and run both examples: the
# C++ round trip must decode bit for bit, and the C decoder must write
# 3 x V x F float32 values for its stream.
#   cmake -DORV_BUILD=<build dir> -DORV_SOURCE=<source dir> -DWORK=<scratch dir> -P ConsumerTest.cmake
file(REMOVE_RECURSE ${WORK})
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}")
  endif()
  message("${out}")
endfunction()
run(${CMAKE_COMMAND} --install ${ORV_BUILD} --prefix ${WORK}/prefix)
run(${CMAKE_COMMAND} -S ${ORV_SOURCE}/examples -B ${WORK}/build -G Ninja -DCMAKE_PREFIX_PATH=${WORK}/prefix)
run(${CMAKE_COMMAND} --build ${WORK}/build)
run(${WORK}/build/orvRoundTrip ${WORK}/grid.orv ${WORK}/faces.txt)
run(${WORK}/build/decode_raw ${WORK}/grid.orv ${WORK}/faces.txt OUTPUT_FILE ${WORK}/grid.f32)
file(SIZE ${WORK}/grid.f32 bytes)
# 24 x 24 vertices, 30 frames, 3 floats each.
if(NOT bytes EQUAL 207360)
  message(FATAL_ERROR "decode_raw wrote ${bytes} bytes, expected 207360")
endif()
