# Not a test: the walk through the AI tools in the real window that
# scripts/screenshot-ai-tools.sh runs under an X server. It runs from a folder
# of its own, away from the generated test models, and finds the models folder
# it is given through its working folder.
add_executable(ai_tools_tour ai_tools_tour.cpp)
target_include_directories(ai_tools_tour PRIVATE
  "${PROJECT_SOURCE_DIR}/tests/common" "${PROJECT_SOURCE_DIR}/tests/app")
target_link_libraries(ai_tools_tour PRIVATE quillmark_widgets Qt6::Test)
set_target_properties(ai_tools_tour PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/ai-tour")
