# The encoders: one implementation file per library, behind AudioEncoder.
add_library(tambrel_encoders STATIC
    ${CMAKE_CURRENT_LIST_DIR}/encodersettings.h
    ${CMAKE_CURRENT_LIST_DIR}/audioencoder.h
    ${CMAKE_CURRENT_LIST_DIR}/audioencoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/wavencoder.h ${CMAKE_CURRENT_LIST_DIR}/wavencoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/lameencoder.h ${CMAKE_CURRENT_LIST_DIR}/lameencoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/vorbisencoder.h ${CMAKE_CURRENT_LIST_DIR}/vorbisencoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/wmaencoder.h ${CMAKE_CURRENT_LIST_DIR}/wmaencoder.cpp)
target_include_directories(tambrel_encoders PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tambrel_encoders PUBLIC tambrel_options Qt6::Core
    PRIVATE PkgConfig::LAME PkgConfig::VORBIS PkgConfig::FFMPEG)
