# Installs the build under a fresh prefix and runs the program from there
# through the screenshot test: the installed copy must start, find its
# modules and open its sample textures.
# cmake -DBUILD=dir -DPREFIX=dir -DTEST=screenshot-test -P InstalledCopy.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                RESULT_VARIABLE status OUTPUT_QUIET)
if(status)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
foreach(file bin/dot3demo bin/graphic-convert share/applications/dot3demo.desktop
             share/icons/hicolor/256x256/apps/dot3demo.png share/dot3demo/textures/bricks.bmp)
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E env DOT3_PROGRAM=${PREFIX}/bin/dot3demo
                        ${TEST} --gtest_filter=VirtualDisplay.LoadsTheSamples*
                RESULT_VARIABLE status)
file(REMOVE_RECURSE ${PREFIX})
if(status)
  message(FATAL_ERROR "the installed copy failed the screenshot test")
endif()
