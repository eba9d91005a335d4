# ONNX Runtime comes from scripts/setup.sh, unpacked into third_party/onnxruntime
# (or wherever QUILLMARK_ONNXRUNTIME_DIR points).
set(QUILLMARK_ONNXRUNTIME_DIR "${PROJECT_SOURCE_DIR}/third_party/onnxruntime"
    CACHE PATH "Folder holding ONNX Runtime's include/ and lib/")

set(_ort_lib "${QUILLMARK_ONNXRUNTIME_DIR}/lib/libonnxruntime.so.1")
set(_ort_inc "${QUILLMARK_ONNXRUNTIME_DIR}/include")
if(NOT EXISTS "${_ort_lib}" OR NOT EXISTS "${_ort_inc}/onnxruntime_cxx_api.h")
  message(FATAL_ERROR "ONNX Runtime not found in ${QUILLMARK_ONNXRUNTIME_DIR}; run scripts/setup.sh first.")
endif()

add_library(onnxruntime::onnxruntime SHARED IMPORTED GLOBAL)
set_target_properties(onnxruntime::onnxruntime PROPERTIES
  IMPORTED_LOCATION "${_ort_lib}"
  IMPORTED_SONAME "libonnxruntime.so.1"
  INTERFACE_INCLUDE_DIRECTORIES "${_ort_inc}"
  # The program sets up the runtime's API table itself (ai/OrtRuntime), at the
  # API version it is written for; every translation unit must agree on this.
  INTERFACE_COMPILE_DEFINITIONS "ORT_API_MANUAL_INIT")
