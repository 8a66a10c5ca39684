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
# Hardened as Debian builds its packages (dpkg-buildflags, hardening=+all): fortified library
# calls where the code is optimised, stack protection, and relocations made read-only at start.
# PIE is the compiler's default on Debian.
if(NOT TAMBREL_SANITIZE)
    target_compile_options(tambrel_options INTERFACE
        -fstack-protector-strong -fstack-clash-protection -fcf-protection
        -Wformat -Werror=format-security
        $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
    target_link_options(tambrel_options INTERFACE -Wl,-z,relro -Wl,-z,now)
endif()
option(TAMBREL_WERROR "Treat warnings as errors" OFF)
if(TAMBREL_WERROR)
    target_compile_options(tambrel_options INTERFACE -Werror)
endif()
