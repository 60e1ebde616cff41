# The event server of the chronik tool (`chronik serve`), built where
# cpp-httplib is found; without it the tool has no serve command. The page,
# its script and style (page/) are built into the tool as a generated header.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(CPPHTTPLIB QUIET IMPORTED_TARGET GLOBAL cpp-httplib)
endif()
if(NOT CPPHTTPLIB_FOUND)
  message(STATUS "cpp-httplib not found: chronik is built without its serve command")
  return()
endif()
find_package(Threads REQUIRED)

set(serve_dir ${CMAKE_CURRENT_LIST_DIR})
set(serve_generated ${CMAKE_CURRENT_BINARY_DIR}/generated/serve)
file(GLOB SERVE_SOURCES CONFIGURE_DEPENDS ${serve_dir}/*.cpp)
file(GLOB SERVE_PAGE CONFIGURE_DEPENDS ${serve_dir}/page/*)
add_custom_command(OUTPUT ${serve_generated}/ServeAssets.h
  COMMAND ${CMAKE_COMMAND} -DPAGE_DIR=${serve_dir}/page -DOUTPUT=${serve_generated}/ServeAssets.h
          -P ${serve_dir}/EmbedAssets.cmake
  DEPENDS ${SERVE_PAGE} ${serve_dir}/EmbedAssets.cmake
  COMMENT "Embedding the event page"
  VERBATIM)
target_sources(chronik_tool PRIVATE ${SERVE_SOURCES} ${serve_generated}/ServeAssets.h)
target_include_directories(chronik_tool PRIVATE ${serve_generated} ${CMAKE_CURRENT_SOURCE_DIR}/tools/chronik)
target_compile_definitions(chronik_tool PRIVATE CHRONIK_SERVE=1)
target_link_libraries(chronik_tool PRIVATE PkgConfig::CPPHTTPLIB Threads::Threads)
