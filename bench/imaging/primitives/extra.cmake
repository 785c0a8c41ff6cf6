# libyuv (libyuv-dev) is the second reference of the YUV 4:2:0 conversion;
# without it that comparison is left out.
find_path(GAVEX_LIBYUV_INCLUDE libyuv.h)
find_library(GAVEX_LIBYUV_LIBRARY yuv)
if(GAVEX_LIBYUV_INCLUDE AND GAVEX_LIBYUV_LIBRARY)
  target_include_directories(${name} PRIVATE ${GAVEX_LIBYUV_INCLUDE})
  target_link_libraries(${name} PRIVATE ${GAVEX_LIBYUV_LIBRARY})
  target_compile_definitions(${name} PRIVATE GAVEX_HAVE_LIBYUV=1)
endif()
