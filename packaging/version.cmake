# The product version lives in resources/version.h ("2, 2, 0, 1"). The release
# version is its first three fields (2.2.0), as the About box shows it; the
# project, the programs' --version and the package all take it from here.
set(_version_header ${CMAKE_CURRENT_LIST_DIR}/../resources/version.h)
file(STRINGS ${_version_header} _version_line REGEX "kProductVersionText")
if(NOT _version_line MATCHES "\"([0-9]+), ([0-9]+), ([0-9]+), ([0-9]+)\"")
    message(FATAL_ERROR "no product version text found in ${_version_header}")
endif()
set(VELTRONA_VERSION ${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${CMAKE_MATCH_3})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_version_header})

# The desktop id: the desktop file, icon and AppStream data are named by it, and
# the window tells the desktop it belongs to it.
set(VELTRONA_APP_ID org.veltrona.Veltrona)
