# varndel_add_models: one build edge per model, run by varndel-edge (the
# target Varndel::edge, from this source tree or from the installed package).
#
#   varndel_add_models(<target>
#     MODELS <file>...            # relative to the current source directory, or absolute
#     [ANIMATED] [FLIP_UVS]       # passed to every model of this call
#     [OUTPUT_DIRECTORY <dir>]    # default: ${CMAKE_CURRENT_BINARY_DIR}
#     [ASSET_ROOT <dir>]          # default: ${CMAKE_CURRENT_SOURCE_DIR}
#     [OPTIMIZE [LODS <ratio>...]] # varndel-opt's step; LOD files <stem>.lodN<ext> beside each output
#     [ANIMATION_TOLERANCE <T>]   # with OPTIMIZE: drop animation keys within T model units
#     [ANIMATION_DISTANCE <D>]    # with ANIMATION_TOLERANCE: where orientations are measured (model units)
#     [EXTRACT_TEXTURES]          # embedded textures into <stem>.textures/ beside each output
#     [ANIMATIONS <sel>...]       # with ANIMATED: each selected take into <stem>.<take>.animbin too
#     [CLIPS_ONLY]                # with ANIMATIONS: take files without meshes
#     [REPORT <file.html>]        # also the target <target>_report: varndel-inspect report over the outputs
#     [ALL])                      # add <target> (and <target>_report) to the default build
#
# Each output is the file that `Varndel <animated> <flip> <model relative to
# ASSET_ROOT>` run in ASSET_ROOT writes. Logs go to
# <binary dir>/varndel-logs/<target>/<stem>/Logs/Log.txt; each edge's depfile
# lists the files its import opened (an OBJ's .mtl, a glTF's buffers, ...).
# With EXTRACT_TEXTURES each edge also rewrites <stem>.textures/ and its
# manifest <stem>.textures.txt, the file the build tracks for the directory.
# With ANIMATIONS (each an index, a name, a pattern with * and ?, or "all";
# see `varndel-edge --help`) each edge also writes the selected takes and
# their record <stem>.takes.txt, which lists them: the record is a declared
# output, and so is <stem>.<name>.animbin for each selector that is a plain
# name (lower case, digits, '_' and '-'); the edge fails when such a name's
# take would get another file (a name that several takes share).
include_guard(GLOBAL)

# Functions keep the policies in effect where they are defined. Depfile paths
# are absolute, so Ninja can read them as written: the NEW behaviour of
# CMP0116 would add a `cmake -E` process to every edge to rewrite them.
cmake_policy(PUSH)
cmake_policy(VERSION 3.20)
cmake_policy(SET CMP0116 OLD)

function(varndel_add_models target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "ANIMATED;FLIP_UVS;ALL;OPTIMIZE;EXTRACT_TEXTURES;CLIPS_ONLY"
                        "OUTPUT_DIRECTORY;ASSET_ROOT;ANIMATION_TOLERANCE;ANIMATION_DISTANCE;REPORT"
                        "MODELS;LODS;ANIMATIONS")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "varndel_add_models(${target}): unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_MODELS)
    message(FATAL_ERROR "varndel_add_models(${target}): MODELS names no file")
  endif()
  if(DEFINED arg_LODS AND NOT arg_OPTIMIZE)
    message(FATAL_ERROR "varndel_add_models(${target}): LODS needs OPTIMIZE")
  endif()
  if(arg_OPTIMIZE AND "LODS" IN_LIST arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "varndel_add_models(${target}): LODS names no ratio")
  endif()
  if(("ANIMATION_TOLERANCE" IN_LIST arg_KEYWORDS_MISSING_VALUES OR DEFINED arg_ANIMATION_TOLERANCE)
     AND NOT arg_OPTIMIZE)
    message(FATAL_ERROR "varndel_add_models(${target}): ANIMATION_TOLERANCE needs OPTIMIZE")
  endif()
  if("ANIMATIONS" IN_LIST arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "varndel_add_models(${target}): ANIMATIONS names no take")
  endif()
  if(DEFINED arg_ANIMATIONS AND NOT arg_ANIMATED)
    message(FATAL_ERROR "varndel_add_models(${target}): ANIMATIONS needs ANIMATED")
  endif()
  if(arg_CLIPS_ONLY AND NOT DEFINED arg_ANIMATIONS)
    message(FATAL_ERROR "varndel_add_models(${target}): CLIPS_ONLY needs ANIMATIONS")
  endif()
  set(options)
  # Plain names are the take files known at configure time.
  set(take_names)
  foreach(selector IN LISTS arg_ANIMATIONS)
    list(APPEND options --animation "${selector}")
    # Names that the safe-name rule keeps as they are: lower case, digits,
    # '_' and '-', not only digits (an index), not a Windows device name.
    if(selector MATCHES "^[a-z0-9_-]+$" AND NOT selector MATCHES "^[0-9]+$" AND NOT selector STREQUAL "all"
       AND NOT selector MATCHES "^(con|prn|aux|nul|com[0-9]|lpt[0-9])$")
      list(APPEND take_names "${selector}")
      list(APPEND options --expect-take "${selector}")
    endif()
  endforeach()
  if(arg_CLIPS_ONLY)
    list(APPEND options --clips-only)
  endif()
  if(arg_OPTIMIZE)
    list(APPEND options --optimize)
  endif()
  if("ANIMATION_TOLERANCE" IN_LIST arg_KEYWORDS_MISSING_VALUES OR DEFINED arg_ANIMATION_TOLERANCE)
    if(NOT arg_ANIMATION_TOLERANCE MATCHES "^([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][-+]?[0-9]+)?$")
      message(FATAL_ERROR
              "varndel_add_models(${target}): ANIMATION_TOLERANCE ${arg_ANIMATION_TOLERANCE} is not a number >= 0")
    endif()
    list(APPEND options --anim-tolerance ${arg_ANIMATION_TOLERANCE})
  endif()
  if("ANIMATION_DISTANCE" IN_LIST arg_KEYWORDS_MISSING_VALUES OR DEFINED arg_ANIMATION_DISTANCE)
    if(NOT ("ANIMATION_TOLERANCE" IN_LIST arg_KEYWORDS_MISSING_VALUES OR DEFINED arg_ANIMATION_TOLERANCE))
      message(FATAL_ERROR "varndel_add_models(${target}): ANIMATION_DISTANCE needs ANIMATION_TOLERANCE")
    endif()
    if(NOT arg_ANIMATION_DISTANCE MATCHES "^([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][-+]?[0-9]+)?$")
      message(FATAL_ERROR
              "varndel_add_models(${target}): ANIMATION_DISTANCE ${arg_ANIMATION_DISTANCE} is not a number >= 0")
    endif()
    list(APPEND options --anim-distance ${arg_ANIMATION_DISTANCE})
  endif()
  foreach(ratio IN LISTS arg_LODS)
    if(NOT ratio MATCHES "^(0?\\.[0-9]+|1(\\.0*)?)$" OR ratio MATCHES "^0?\\.0*$")
      message(FATAL_ERROR "varndel_add_models(${target}): LODS ratio ${ratio} is not a number in (0, 1]")
    endif()
    list(APPEND options --lod ${ratio})
  endforeach()
  if("REPORT" IN_LIST arg_KEYWORDS_MISSING_VALUES)
    message(FATAL_ERROR "varndel_add_models(${target}): REPORT names no file")
  endif()
  if(DEFINED arg_REPORT AND NOT TARGET Varndel::inspect)
    message(FATAL_ERROR "varndel_add_models(${target}): REPORT needs Varndel::inspect (varndel-inspect), "
                        "which this Varndel package does not have")
  endif()
  if(NOT TARGET Varndel::edge)
    message(FATAL_ERROR "varndel_add_models(${target}): Varndel::edge is not defined; "
                        "call find_package(Varndel CONFIG REQUIRED) in this directory or above")
  endif()

  # cmake_path, unlike get_filename_component and file(RELATIVE_PATH), keeps
  # a backslash in a POSIX file name as it is.
  set(root "${CMAKE_CURRENT_SOURCE_DIR}")
  if(DEFINED arg_ASSET_ROOT)
    cmake_path(ABSOLUTE_PATH arg_ASSET_ROOT BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE OUTPUT_VARIABLE root)
  endif()
  set(output_dir "${CMAKE_CURRENT_BINARY_DIR}")
  if(DEFINED arg_OUTPUT_DIRECTORY)
    cmake_path(ABSOLUTE_PATH arg_OUTPUT_DIRECTORY BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}" NORMALIZE
               OUTPUT_VARIABLE output_dir)
  endif()
  set(animated 0)
  set(extension .staticbin)
  if(arg_ANIMATED)
    set(animated 1)
    set(extension .animbin)
  endif()
  set(flip 0)
  if(arg_FLIP_UVS)
    set(flip 1)
  endif()

  # Ninja runs each command as /bin/sh -c "cd <dir> && <command>", and the
  # shell forks for <command> unless told to exec it: that extra process
  # would cost a few per cent of a small model's compile. (Make runs a plain
  # command without a shell, and an exec would make it start one. A cross
  # build may need the target's emulator, which only the plain form adds. A
  # RULE_LAUNCH_CUSTOM launcher is put before the command, so it gets the plain
  # form too.)
  set(launch Varndel::edge)
  get_property(directory_launcher DIRECTORY PROPERTY RULE_LAUNCH_CUSTOM)
  get_property(global_launcher GLOBAL PROPERTY RULE_LAUNCH_CUSTOM)
  if(CMAKE_HOST_UNIX AND CMAKE_GENERATOR MATCHES "Ninja" AND NOT CMAKE_CROSSCOMPILING
     AND NOT directory_launcher AND NOT global_launcher)
    set(launch exec "$<TARGET_FILE:Varndel::edge>")
  endif()

  set(outputs)
  set(manifests)
  set(take_records)
  set(texture_dirs)
  set(stems)
  foreach(model IN LISTS arg_MODELS)
    cmake_path(ABSOLUTE_PATH model BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE OUTPUT_VARIABLE source)
    if(NOT EXISTS "${source}")
      get_source_file_property(generated "${source}" GENERATED)
      if(NOT generated)
        message(FATAL_ERROR "varndel_add_models(${target}): model ${model} not found (${source})")
      endif()
    endif()
    cmake_path(RELATIVE_PATH source BASE_DIRECTORY "${root}" OUTPUT_VARIABLE relative)
    # The compiler's default output name: the file name cut before its last '.'.
    cmake_path(GET source STEM LAST_ONLY stem)
    # Stems that differ only in case would still collide on the file systems
    # of Windows and macOS.
    string(TOLOWER "${stem}" folded_stem)
    list(FIND stems "${folded_stem}" seen)
    if(NOT seen EQUAL -1)
      list(GET arg_MODELS ${seen} other)
      message(FATAL_ERROR "varndel_add_models(${target}): ${other} and ${model} both compile to "
                          "${output_dir}/${stem}${extension}; give one of them another file name")
    endif()
    list(APPEND stems "${folded_stem}")

    set(output "${output_dir}/${stem}${extension}")
    set(log_dir "${CMAKE_CURRENT_BINARY_DIR}/varndel-logs/${target}/${stem}")
    set(depfile "${log_dir}/${stem}${extension}.d")
    # The depfile must name the output as the build files do, or Ninja
    # reruns the edge every time and Make's dependency merge never drops a
    # side file that went away: paths below the top build directory are
    # relative to it.
    set(depfile_target "${output}")
    cmake_path(RELATIVE_PATH output BASE_DIRECTORY "${CMAKE_BINARY_DIR}" OUTPUT_VARIABLE below_build)
    if(NOT below_build MATCHES "^\\.\\./")
      set(depfile_target "${below_build}")
    endif()
    set(lod_outputs)
    set(level 0)
    foreach(ratio IN LISTS arg_LODS)
      math(EXPR level "${level} + 1")
      list(APPEND lod_outputs "${output_dir}/${stem}.lod${level}${extension}")
    endforeach()
    # A model whose stem ends in .lodN writes the name of a level of the
    # model of the shorter stem: refused, in this call or any earlier one.
    set(take_outputs)
    if(DEFINED arg_ANIMATIONS)
      list(APPEND take_outputs "${output_dir}/${stem}.takes.txt")
      foreach(name IN LISTS take_names)
        list(APPEND take_outputs "${output_dir}/${stem}.${name}.animbin")
      endforeach()
    endif()
    get_property(taken GLOBAL PROPERTY VARNDEL_ALL_OUTPUTS)
    foreach(file IN ITEMS "${output}" ${lod_outputs} ${take_outputs})
      string(TOLOWER "${file}" folded_file)
      if(folded_file IN_LIST taken)
        message(FATAL_ERROR "varndel_add_models(${target}): ${model} would write ${file}, which another model or "
                            "level already writes (a level N of <stem> is <stem>.lodN${extension}); give the model "
                            "another file name")
      endif()
      list(APPEND taken "${folded_file}")
    endforeach()
    set_property(GLOBAL PROPERTY VARNDEL_ALL_OUTPUTS "${taken}")
    # CMake takes a backslash in a dependency for a directory separator, so a
    # model whose POSIX path holds one is tracked by the depfile alone (the
    # import opens the model, so it is listed there).
    set(model_dependency "${source}")
    if(NOT CMAKE_HOST_WIN32 AND source MATCHES "[\\]")
      set(model_dependency)
    endif()
    # A directory is no output Ninja can clean, so the manifest beside it
    # stands for it.
    set(texture_options)
    set(texture_outputs)
    if(arg_EXTRACT_TEXTURES)
      set(texture_options --extract-textures "${output_dir}/${stem}.textures"
                          --textures-manifest "${output_dir}/${stem}.textures.txt")
      set(texture_outputs "${output_dir}/${stem}.textures.txt")
      list(APPEND texture_dirs "${output_dir}/${stem}.textures")
    endif()
    add_custom_command(
      OUTPUT "${output}" ${lod_outputs} ${texture_outputs} ${take_outputs}
      COMMAND ${launch} ${options} ${texture_options} ${animated} ${flip} "${root}" "${relative}" "${output}"
              "${log_dir}" "${depfile}" "${depfile_target}"
      # The log and the depfile are the edge's files too: declared, so that
      # a remote executor brings them back.
      BYPRODUCTS "${log_dir}/Logs/Log.txt" "${depfile}"
      DEPENDS ${model_dependency} Varndel::edge
      DEPFILE "${depfile}"
      COMMENT "Compiling model ${relative}"
      VERBATIM)
    list(APPEND outputs "${output}" ${lod_outputs})
    list(APPEND manifests ${texture_outputs} ${take_outputs})
    if(DEFINED arg_ANIMATIONS)
      list(APPEND take_records "${output_dir}/${stem}.takes.txt")
    endif()
  endforeach()

  set(all)
  if(arg_ALL)
    set(all ALL)
  endif()
  add_custom_target(${target} ${all} DEPENDS ${outputs} ${manifests})
  if(DEFINED arg_REPORT)
    # One page over this call's outputs, LOD levels, take files and extracted
    # textures included; a damaged output gets its row and does not fail the build.
    set(report_takes ${manifests})
    list(FILTER report_takes INCLUDE REGEX "\\.animbin$")
    cmake_path(ABSOLUTE_PATH arg_REPORT BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}" NORMALIZE OUTPUT_VARIABLE report)
    add_custom_command(
      OUTPUT "${report}"
      COMMAND Varndel::inspect report ${outputs} ${report_takes} -o "${report}"
      DEPENDS ${outputs} ${manifests} Varndel::inspect
      COMMENT "Writing the report ${arg_REPORT}"
      VERBATIM)
    add_custom_target(${target}_report ${all} DEPENDS "${report}")
    add_dependencies(${target}_report ${target})
  endif()
  set_property(TARGET ${target} PROPERTY VARNDEL_OUTPUTS "${outputs}")
  set_property(TARGET ${target} PROPERTY VARNDEL_TEXTURE_DIRECTORIES "${texture_dirs}")
  # The take records (<stem>.takes.txt), each listing its model's take files.
  set_property(TARGET ${target} PROPERTY VARNDEL_TAKE_RECORDS "${take_records}")
  set_property(TARGET ${target} APPEND PROPERTY ADDITIONAL_CLEAN_FILES ${texture_dirs})
endfunction()

cmake_policy(POP)
