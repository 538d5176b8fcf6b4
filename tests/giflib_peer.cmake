# giflib for the GIF benchmarks, built by scripts/setup; no program or test links it.
set(GIFLIB_PEER_PREFIX "${CMAKE_BINARY_DIR}/deps/giflib")
if(NOT TARGET giflib_peer)
  add_library(giflib_peer STATIC IMPORTED GLOBAL)
  set_target_properties(giflib_peer PROPERTIES IMPORTED_LOCATION "${GIFLIB_PEER_PREFIX}/lib/libgif.a"
                        INTERFACE_INCLUDE_DIRECTORIES "${GIFLIB_PEER_PREFIX}/include")
endif()
