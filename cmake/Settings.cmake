# What every target of ours is built with, carried by one INTERFACE target: link it and get them.
#   qelpad_settings  Unicode and lean Windows headers for Windows 7 and later; the warnings (errors
#                    when QELPAD_WARNINGS_AS_ERRORS); the GCC runtime linked in, so that an exe needs
#                    nothing but Windows' own DLLs.
# Besides, for the whole build: the same commit builds to the same bytes wherever it is built (no
# build folder in the objects), and unused functions and data can be dropped at link time.
add_library(qelpad_settings INTERFACE)
target_compile_definitions(qelpad_settings INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)
target_compile_options(qelpad_settings INTERFACE
    $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra $<$<BOOL:${QELPAD_WARNINGS_AS_ERRORS}>:-Werror>>)
target_link_options(qelpad_settings INTERFACE -static -static-libgcc -static-libstdc++)

add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}/=;-ffile-prefix-map=${CMAKE_BINARY_DIR}/=;-ffunction-sections;-fdata-sections>")

# A shipped exe: ASLR, DEP, no time stamp, no symbols, nothing unused.
set(QELPAD_HARDENING -Wl,--dynamicbase,--nxcompat,--no-insert-timestamp,--gc-sections -s)
