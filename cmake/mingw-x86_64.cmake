# 64-bit Windows, for the tests on a machine whose Wine runs 64-bit programs
# only (see scripts/wine-env).
set(mingw_arch x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
