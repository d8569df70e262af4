# Sourced by the test scripts: the sanitizer settings a suite's tests run with, read from the
# build's own cache so that a build dir always runs with the options it was built for.
suite_env() {   # build dir -> exports the sanitizer options for that build
  local dir=$1 sanitize
  sanitize=$(sed -n 's/^OXA_SANITIZE:STRING=//p' "$dir/CMakeCache.txt" 2>/dev/null || true)
  case "$sanitize" in
    *thread*)
      export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ;;
    *address*)
      export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
      export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ;;
  esac
}
