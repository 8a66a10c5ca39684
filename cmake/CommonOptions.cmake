# Options shared by every target of the project, as one INTERFACE target.
add_library(tambrel_options INTERFACE)
target_compile_features(tambrel_options INTERFACE cxx_std_20)
target_compile_options(tambrel_options INTERFACE -Wall -Wextra -Wpedantic)
target_compile_definitions(tambrel_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_CAST_FROM_BYTEARRAY
    QT_USE_QSTRINGBUILDER
    QT_STRICT_ITERATORS
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    TAMBREL_VERSION="${PROJECT_VERSION}")

option(TAMBREL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(TAMBREL_SANITIZE)
    target_compile_options(tambrel_options INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(tambrel_options INTERFACE -fsanitize=address,undefined)
endif()
option(TAMBREL_WERROR "Treat warnings as errors" OFF)
if(TAMBREL_WERROR)
    target_compile_options(tambrel_options INTERFACE -Werror)
endif()
