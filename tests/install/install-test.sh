#!/usr/bin/env bash
# Installs the build into a temporary prefix, builds examples/minimal-host
# against that prefix alone, runs it and the installed corvane-whisper on
# speech, and checks that nothing installed reaches back into the build or
# source tree.
#
#   install-test.sh BUILD_DIR SOURCE_DIR SHARED_DIR TEST_DATA_DIR
set -euo pipefail
build=$(realpath "$1") source=$(realpath "$2") shared=$3 test_data=$4
whisper_source=$(realpath "$source/third_party/whisper.cpp" 2>/dev/null || echo "$source/third_party")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }
# Nothing from the environment may lead the example to the build tree.
unset LD_LIBRARY_PATH CMAKE_PREFIX_PATH PKG_CONFIG_PATH

step() { echo "== $*"; }
step "install into $prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "install"; }

step "build the example against the installed package alone"
cp -r "$source/examples/minimal-host" "$work/example"
cmake -S "$work/example" -B "$work/example-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null
cmake --build "$work/example-build" >/dev/null
if grep -rlF -e "$build" -e "$source" "$work/example-build"; then fail "the example's build refers to the build or source tree"; fi

step "pkg-config corvane-sdk"
pc_dir=$(dirname "$(find "$prefix" -name corvane-sdk.pc)")
flags=$(PKG_CONFIG_PATH=$pc_dir pkg-config --cflags --libs corvane-sdk)
printf '#include <corvane/core/Logger.h>\nint main() { corvane::Logger::info("linked"); }\n' >"$work/pc.cpp"
# shellcheck disable=SC2086 # the flags are words
g++ -std=c++20 "$work/pc.cpp" -o "$work/pc" $flags

step "no path into $build, $source or $whisper_source"
for binary in "$prefix"/bin/* "$work/example-build/minimal-host" $(find "$prefix" -name '*.so*' -type f); do
    links=$(ldd "$binary"; readelf -d "$binary" | grep -E 'R(UN)?PATH' || true)
    if grep -F 'not found' <<<"$links"; then fail "$binary: a library is not found"; fi
    for tree in "$build" "$source" "$whisper_source"; do
        if grep -F "$tree" <<<"$links"; then fail "$binary points into $tree"; fi
    done
done

# jfk.wav when there is one, else speech made up on the spot.
for speech in "$shared/audio/jfk.wav" "$whisper_source/samples/jfk.wav" "$whisper_source/samples/jfk.mp3" ""; do
    [[ -z "$speech" || -f "$speech" ]] && break
done
if [[ -z "$speech" ]]; then
    speech=$work/speech.wav
    espeak-ng -w "$speech" "ask not what your country can do for you"
fi

step "minimal-host on $speech with the weight-less model"
out=$("$work/example-build/minimal-host" "$speech" "$test_data/for-tests-ggml-tiny.en.bin")
echo "$out"
[[ $(grep -c '^transcribed: ' <<<"$out") == 1 ]] || fail "expected one transcribed event"

real_model=$shared/models/ggml-tiny.en.bin
if [[ -f "$real_model" && "$speech" == */jfk.* ]]; then
    step "minimal-host with the real tiny.en model"
    out=$("$work/example-build/minimal-host" "$speech" "$real_model")
    echo "$out"
    grep -qi 'ask not what your country can do for you' <<<"$out" || fail "the words are not there"
else
    echo "== (no $real_model or no jfk speech: words not checked)"
fi

step "installed corvane-whisper, default model from the installed models folder"
models=$prefix/share/corvane/models
[[ -f "$models/ggml-base.en.bin" ]] || cp "$test_data/for-tests-ggml-tiny.en.bin" "$models/ggml-base.en.bin"
(cd "$work" && "$prefix/bin/corvane-whisper" transcribe --quiet --no-gpu --step 30 "$speech") || fail "corvane-whisper"

# A portable build (CORVANE_PORTABLE_CPU) ships ggml's CPU backend for each
# x86-64 level beside libwhisper. A copy of the tree without the AVX-512
# levels is what an AVX2 machine chooses from: it must pick an AVX2 one.
levels=$(find "$prefix" -name 'libggml-cpu-*.so' -printf '%f\n' | sed 's/^libggml-cpu-//; s/\.so$//' | sort | paste -sd ' ')
if [[ -n "$levels" ]]; then
    step "portable CPU backend (levels: $levels), without the AVX-512 ones"
    cp -a "$prefix" "$work/avx2"
    for level in skylakex cannonlake cascadelake icelake cooperlake zen4 sapphirerapids; do
        find "$work/avx2" -name "libggml-cpu-$level.so" -delete
    done
    log=$(cd "$work" && "$work/avx2/bin/corvane-whisper" --log-level info transcribe --no-gpu --step 30 \
        --model "$test_data/for-tests-ggml-tiny.en.bin" "$speech" 2>&1) || { echo "$log"; fail "corvane-whisper without AVX-512"; }
    info=$(grep -o 'CPU : .*' <<<"$log" | head -n 1)
    echo "ggml: $info"
    grep -q 'AVX2 = 1' <<<"$info" && ! grep -q 'AVX512 = 1' <<<"$info" || fail "expected an AVX2 level without AVX-512"
fi
echo "PASS"
