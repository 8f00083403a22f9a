# The fuzz harnesses and the libraries whose code each one exercises. Shared by
# the libFuzzer targets (fuzz/CMakeLists.txt) and the replay tests of every build
# (tests/fuzz/CMakeLists.txt), so both always cover the same harnesses.
set(XELOR_FUZZ_NAMES reply hex memimage xel xel_load registry ini xelsim xelsim_boot picboot xelctl xeld)

set(XELOR_FUZZ_LIBS_reply xelor_protocol codepage)
set(XELOR_FUZZ_LIBS_hex xelor_control)
set(XELOR_FUZZ_LIBS_memimage xelor_control)
set(XELOR_FUZZ_LIBS_xel xelor_protocol xelsim_unit codepage)
set(XELOR_FUZZ_LIBS_xel_load xelor_protocol objrt core_library)
set(XELOR_FUZZ_LIBS_registry registry)
set(XELOR_FUZZ_LIBS_ini inifile codepage)
set(XELOR_FUZZ_LIBS_xelsim xelsim_unit xelor_connection codepage)
set(XELOR_FUZZ_LIBS_xelsim_boot xelsim_unit piece_picboot_frame)
set(XELOR_FUZZ_LIBS_picboot piece_picboot_frame xelsim_unit)
set(XELOR_FUZZ_LIBS_xelctl piece_xelctl_text)
set(XELOR_FUZZ_LIBS_xeld piece_xeld_request)

# "core_library" stands for the build's libxelor.so, which the harness loads and
# registers as a client would; its path reaches the harness as XELOR_FUZZ_CORE_LIBRARY.

# Pieces: single files compiled into the harness where their library cannot be
# linked for them (libpicboot exports only its C calls; xelctl's library drags in
# the whole client). Each names its files, the target that must exist, and what
# the files themselves link.
set(XELOR_FUZZ_PIECE_picboot_frame_SOURCES ${CMAKE_SOURCE_DIR}/platform/picboot/Frame.cpp)
set(XELOR_FUZZ_PIECE_picboot_frame_NEEDS picboot)
set(XELOR_FUZZ_PIECE_picboot_frame_LIBS)
set(XELOR_FUZZ_PIECE_xelctl_text_SOURCES ${CMAKE_SOURCE_DIR}/tools/xelctl/Text.cpp)
set(XELOR_FUZZ_PIECE_xelctl_text_NEEDS xelctl_lib)
set(XELOR_FUZZ_PIECE_xelctl_text_LIBS objrt)

set(XELOR_FUZZ_PIECE_xeld_request_SOURCES ${CMAKE_SOURCE_DIR}/tools/xeld/Request.cpp
    ${CMAKE_SOURCE_DIR}/tools/xelctl/Late.cpp ${CMAKE_SOURCE_DIR}/tools/xelctl/Text.cpp)
set(XELOR_FUZZ_PIECE_xeld_request_NEEDS xeld_lib)
set(XELOR_FUZZ_PIECE_xeld_request_LIBS objrt nlohmann_json::nlohmann_json)

set(XELOR_FUZZ_SUPPORT ${CMAKE_SOURCE_DIR}/fuzz/FuzzSupport.cpp)
