# The LZMA and Zstandard codecs, from Debian's packages, never from copies in
# this repository. Every build gets the same four targets:
#
#   lzma_sdk_dec   LZMA decoder (LzmaDec.c of the LZMA SDK, package lzma-dev)
#   lzma_sdk_enc   LZMA encoder (LzmaEnc.c + LzFind.c, single-threaded)
#   zstd_dec       Zstandard decoder
#   zstd_full      Zstandard encoder and decoder
#
# The LZMA SDK is C source in Debian, compiled here for Linux and MinGW alike,
# so both builders' encoders are the same code and write the same bytes.
# Zstandard is the system's libzstd on Linux; MinGW-w64 has none in Debian,
# so the Windows builds compile Debian's source package of the same version
# (lib/common and lib/decompress, lib/compress for the encoder), which the
# install step unpacks into SEA_DEPS_DIR/zstd (scripts/lib/install.sh,
# sea_fetch_zstd_source). SEA_ZSTD_FROM_SOURCE makes a Linux build compile
# it too (the fuzz targets, so that libFuzzer sees inside the decoder).
#
# Third-party sources keep their own warnings (no -Werror); they are built
# for size (-Os, one section per function so that the linker drops what
# nothing calls), since the decoders go into the installer stub.

set(SEA_LZMA_SDK_DIR /usr/include/lzma CACHE PATH "The LZMA SDK's C sources (Debian package lzma-dev)")
set(SEA_DEPS_DIR ${CMAKE_SOURCE_DIR}/build/deps CACHE PATH
    "Where the install step unpacks third-party sources (zstd/: Debian's libzstd source package)")
if(WIN32)
  set(sea_zstd_from_source_default ON)
else()
  set(sea_zstd_from_source_default OFF)
endif()
option(SEA_ZSTD_FROM_SOURCE "Compile Zstandard from SEA_DEPS_DIR/zstd instead of linking the system's libzstd"
       ${sea_zstd_from_source_default})

# Flags for third-party C sources: small code, unused functions dropped.
set(sea_codec_c_flags -Os -ffunction-sections -fdata-sections -w)

# --- LZMA SDK -------------------------------------------------------------------
foreach(f LzmaDec.c LzmaEnc.c LzFind.c LzmaDec.h LzmaEnc.h Types.h)
  if(NOT EXISTS ${SEA_LZMA_SDK_DIR}/${f})
    message(FATAL_ERROR "${SEA_LZMA_SDK_DIR}/${f} is missing: install the Debian package lzma-dev "
                        "(scripts/lib/install.sh does) or set SEA_LZMA_SDK_DIR")
  endif()
endforeach()
# The decoder is what an LZMA installer spends its time in: built for speed
# (-O2, the unrolled bit decoding without _LZMA_SIZE_OPT), a few KB more in
# the stub. _7ZIP_ST: no multi-threaded match finder.
add_library(lzma_sdk_dec STATIC ${SEA_LZMA_SDK_DIR}/LzmaDec.c)
target_include_directories(lzma_sdk_dec SYSTEM PUBLIC ${SEA_LZMA_SDK_DIR})
target_compile_definitions(lzma_sdk_dec PUBLIC _7ZIP_ST)
target_compile_options(lzma_sdk_dec PRIVATE ${sea_codec_c_flags} -O2)

add_library(lzma_sdk_enc STATIC ${SEA_LZMA_SDK_DIR}/LzmaEnc.c ${SEA_LZMA_SDK_DIR}/LzFind.c)
target_include_directories(lzma_sdk_enc SYSTEM PUBLIC ${SEA_LZMA_SDK_DIR})
target_compile_definitions(lzma_sdk_enc PUBLIC _7ZIP_ST)
# The encoder runs in the builder only: built for speed.
target_compile_options(lzma_sdk_enc PRIVATE -O2 -w)

# --- Zstandard --------------------------------------------------------------------
if(SEA_ZSTD_FROM_SOURCE)
  set(sea_zstd ${SEA_DEPS_DIR}/zstd/lib)
  if(NOT EXISTS ${sea_zstd}/zstd.h OR NOT EXISTS ${sea_zstd}/decompress/zstd_decompress.c)
    message(FATAL_ERROR "The Zstandard sources are missing in ${SEA_DEPS_DIR}/zstd: run "
                        "'. scripts/lib/install.sh && sea_fetch_zstd_source' (scripts/test.sh and "
                        "scripts/demo.sh do) or set SEA_DEPS_DIR")
  endif()
  # The same bytes wherever the sources were unpacked.
  add_compile_options("$<$<COMPILE_LANGUAGE:C>:-ffile-prefix-map=${SEA_DEPS_DIR}/=>")
  # No threads, no legacy formats, no assembly (the C decoder is the same
  # on every processor), XXH symbols in zstd's namespace. The decoder
  # goes into the stub, so it takes the small variants: single-symbol
  # Huffman tables, the short-offset sequence loop, no forced inlining,
  # no error texts.
  set(sea_zstd_defs ZSTD_LEGACY_SUPPORT=0 ZSTD_DISABLE_ASM XXH_NAMESPACE=ZSTD_ DEBUGLEVEL=0)
  file(GLOB sea_zstd_common ${sea_zstd}/common/*.c)
  list(FILTER sea_zstd_common EXCLUDE REGEX "/(pool|threading)\\.c$")
  file(GLOB sea_zstd_decompress ${sea_zstd}/decompress/*.c)
  file(GLOB sea_zstd_compress ${sea_zstd}/compress/*.c)
  list(FILTER sea_zstd_compress EXCLUDE REGEX "/zstdmt_compress\\.c$")

  add_library(zstd_dec STATIC ${sea_zstd_common} ${sea_zstd_decompress})
  target_include_directories(zstd_dec SYSTEM PUBLIC ${sea_zstd})
  target_compile_definitions(zstd_dec PUBLIC ${sea_zstd_defs}
    PRIVATE HUF_FORCE_DECOMPRESS_X1 ZSTD_FORCE_DECOMPRESS_SEQUENCES_SHORT ZSTD_NO_INLINE
            ZSTD_STRIP_ERROR_STRINGS)
  target_compile_options(zstd_dec PRIVATE ${sea_codec_c_flags})

  add_library(zstd_full STATIC ${sea_zstd_compress})
  target_compile_options(zstd_full PRIVATE -O2 -w)
  target_link_libraries(zstd_full PUBLIC zstd_dec)
else()
  find_path(SEA_ZSTD_INCLUDE_DIR zstd.h)
  find_library(SEA_ZSTD_LIBRARY zstd)
  if(NOT SEA_ZSTD_INCLUDE_DIR OR NOT SEA_ZSTD_LIBRARY)
    message(FATAL_ERROR "libzstd is missing: install the Debian package libzstd-dev "
                        "(scripts/lib/install.sh does)")
  endif()
  add_library(zstd_dec INTERFACE)
  target_include_directories(zstd_dec SYSTEM INTERFACE ${SEA_ZSTD_INCLUDE_DIR})
  target_link_libraries(zstd_dec INTERFACE ${SEA_ZSTD_LIBRARY})
  add_library(zstd_full INTERFACE)
  target_link_libraries(zstd_full INTERFACE zstd_dec)
endif()
