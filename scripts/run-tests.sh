#!/usr/bin/env bash
# The whole test suite: the Python tests against the installed package, then
# the C++ tests of core paths that Python cannot reach.
set -euo pipefail
cd "$(dirname "$0")/.."

python3 -m pytest -q -p no:cacheprovider tests

cmake -S . -B build/native-tests -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARNWICK_NATIVE_TESTS=ON -DTARNWICK_WERROR=ON >/dev/null
cmake --build build/native-tests --target tarnwick_native_tests -j2 >/dev/null
ctest --test-dir build/native-tests --output-on-failure
