#!/bin/sh
# The compilers of the ARM64 tree. Debian has no mingw-w64 GCC for ARM64, but its clang-19, lld-19
# and llvm-19 (installed by scripts/setup) target aarch64-w64-mingw32 once they are given what they
# lack, which this script builds from two of Debian's source packages: mingw-w64's headers, C
# runtime and import libraries for arm64 (mingw-w64), and compiler-rt's builtins and a static libc++,
# libc++abi and libunwind (llvm-toolchain-19). It builds them once per machine, into a cache outside
# the clone, one folder per set of versions: a second build, and a second clone, take it as it is.
#
#   arm64-toolchain.sh make   build it unless the cache has it, then print its folder
#   arm64-toolchain.sh path   print the folder of a complete one for this clang; otherwise say why
#                             on standard error and exit 1
#
# TORV_CACHE_DIR moves the cache (default ${XDG_CACHE_HOME:-$HOME/.cache}/torvthumb). A folder counts
# as complete only once the file "complete" is in it, written after a test program built with it
# was checked; a build cut short is started again from nothing.
set -eu

# Bumped whenever what is built changes, so that a cache made otherwise is never taken for this one.
recipe=2
triple=aarch64-w64-mingw32
release=trixie
llvm_major=19
llvm_bin=/usr/lib/llvm-$llvm_major/bin
cache=${TORV_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/torvthumb}/arm64-toolchain

fail() {
    echo "arm64-toolchain: $*" >&2
    exit 1
}

# Debian's version of the installed clang, without its epoch: one part of the cache's key.
clang_version() {
    version=$(dpkg-query -W -f '${Version}' "clang-$llvm_major" 2>/dev/null) \
        || fail "clang-$llvm_major is not installed: run scripts/setup"
    echo "${version#*:}"
}

# The newest complete toolchain built with this recipe for the installed clang.
complete_toolchain() {
    found=""
    for stamp in "$cache"/r$recipe-clang-$(clang_version)-*/complete; do
        [ -f "$stamp" ] && found=${stamp%/complete}
    done
    [ -n "$found" ] || return 1
    echo "$found"
}

# "<url> <file> <sha256>" of each file of the package's version in the release, from the signed
# Sources index (apt-get prints what it would download, with the index's checksums).
source_files() {
    apt-get source --print-uris -qq "$1/$release" 2>/dev/null \
        | sed -n "s/^'\([^']*\)' \([^ ]*\) [0-9]* SHA256:\([0-9a-f]*\)$/\1 \2 \3/p"
}

# The Debian version of a source package, from the name of its .dsc.
source_version() {
    source_files "$1" | sed -n "s/^[^ ]* $1_\(.*\)\.dsc .*$/\1/p"
}

# Downloads the package's upstream tarball into the cache's downloads, unless it is there, and
# checks it against the Sources index. Only the upstream tarball is used: the mirror serves neither
# the .dsc nor the Debian changes of these two packages.
fetch_orig() {
    package=$1
    line=$(source_files "$package" | grep " ${package}_[^ ]*\.orig\.tar\.[a-z0-9]* " | head -n1)
    [ -n "$line" ] || fail "the $release Sources index lists no upstream tarball of $package"
    name=$(echo "$line" | cut -d' ' -f2)
    sum=$(echo "$line" | cut -d' ' -f3)
    mkdir -p "$cache/downloads"
    if ! echo "$sum  $cache/downloads/$name" | sha256sum --quiet -c - >/dev/null 2>&1; then
        echo "downloading $name" >&2
        sandbox=""
        # As root apt downloads as _apt, who may not enter the cache.
        [ "$(id -u)" -eq 0 ] && sandbox="-o APT::Sandbox::User=root"
        # apt-get fails as a whole when the .dsc is missing from the mirror, but keeps what it got.
        # shellcheck disable=SC2086
        (cd "$cache/downloads" && apt-get source $sandbox --download-only -qq "$package/$release" >/dev/null 2>&1) || true
        echo "$sum  $cache/downloads/$name" | sha256sum --quiet -c - >/dev/null 2>&1 \
            || fail "cannot download $name with the checksum of the Sources index"
    fi
    echo "$cache/downloads/$name"
}

# Runs one step with its output in the build folder's log, which is shown if it fails. The step runs
# as a job of its own, where "set -e" stops it at its first failing command (in an "if" it would not).
step() {
    name=$1
    shift
    echo "arm64-toolchain: $name" >&2
    "$@" >"$build/$name.log" 2>&1 &
    if ! wait $!; then
        tail -n 40 "$build/$name.log" >&2
        fail "$name failed; its log: $build/$name.log"
    fi
}

unpack_sources() {
    tar -xjf "$mingw_tarball" -C "$build"
    mv "$build"/mingw-w64-v* "$build/mingw-w64"
    # Of the LLVM project, the runtimes and the CMake files they need; not libc++'s 12,000 tests.
    top=$(tar -tJf "$llvm_tarball" | head -n1 | cut -d/ -f1)
    tar -xJf "$llvm_tarball" -C "$build" --exclude="$top/libcxx/test" \
        "$top/compiler-rt" "$top/libcxx" "$top/libcxxabi" "$top/libunwind" "$top/runtimes" \
        "$top/cmake" "$top/llvm/cmake" "$top/llvm/utils/llvm-lit" "$top/llvm/utils/lit" "$top/third-party"
    mv "$build/$top" "$build/llvm-project"
}

# The drivers, as the target's tool names: clang with the toolchain's sysroot, its own resource folder
# (Debian's built-in headers and the compiler-rt builtins built here) and libc++, and where it links
# compiler-rt, libunwind and lld (given to a compile, those would be unused arguments, which clang
# warns of); the other tools are Debian's LLVM ones.
write_drivers() {
    mkdir -p "$prefix/bin" "$prefix/$triple" "$prefix/lib/clang/$llvm_major/lib/windows"
    ln -sfn "$llvm_bin/../lib/clang/$llvm_major/include" "$prefix/lib/clang/$llvm_major/include"
    for driver in clang clang++; do
        library=""
        [ "$driver" = clang++ ] && library=-stdlib=libc++
        cat >"$prefix/bin/$triple-$driver" <<EOF
#!/bin/sh
link="-rtlib=compiler-rt -unwindlib=libunwind -fuse-ld=lld"
for argument in "\$@"; do
    case "\$argument" in -c|-S|-E|-fsyntax-only) link="" ;; esac
done
exec $llvm_bin/$driver --target=$triple --sysroot=$prefix -resource-dir=$prefix/lib/clang/$llvm_major \\
    $library \$link "\$@"
EOF
        chmod +x "$prefix/bin/$triple-$driver"
    done
    # llvm-windres takes its default target from its name, and runs the clang beside it to preprocess.
    for tool in ar ranlib nm strip objcopy objdump dlltool readobj windres; do
        ln -sfn "$llvm_bin/llvm-$tool" "$prefix/bin/$triple-$tool"
    done
}

mingw_headers() {
    mkdir -p "$build/headers" && cd "$build/headers"
    "$build/mingw-w64/mingw-w64-headers/configure" --host=$triple --prefix="$prefix/$triple" \
        --enable-idl --with-default-win32-winnt=0x601 --with-default-msvcrt=msvcrt
    make install
}

# msvcrt.dll, as the x64 and x86 trees link through Debian's mingw-w64 (Wine 8's arm64 ucrtbase.dll
# faults before a program's main).
mingw_crt() {
    mkdir -p "$build/crt" && cd "$build/crt"
    "$build/mingw-w64/mingw-w64-crt/configure" --host=$triple --prefix="$prefix/$triple" \
        --disable-lib32 --disable-lib64 --enable-libarm64 --with-default-msvcrt=msvcrt \
        CC="$prefix/bin/$triple-clang" CXX="$prefix/bin/$triple-clang++" \
        CFLAGS="-g -O2 $(path_maps)" CXXFLAGS="-g -O2 $(path_maps)" AR="$llvm_bin/llvm-ar" RANLIB="$llvm_bin/llvm-ranlib" DLLTOOL="$llvm_bin/llvm-dlltool"
    make -j"$jobs"
    make install
}

# Where the sources were built is nobody's business in a shipped program: the libraries' assertion
# messages and debug information name their files relative to the build folder.
path_maps() {
    echo "-ffile-prefix-map=$build/= -ffile-prefix-map=$prefix/="
}

# CMake for one of LLVM's runtimes (source folder, install prefix, then its own options): a cross
# build whose compiler is not tried out by linking (there is nothing to link with yet).
runtime_cmake() {
    source_dir=$1 install_prefix=$2
    shift 2
    cmake -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=aarch64 \
        -DCMAKE_C_COMPILER="$prefix/bin/$triple-clang" -DCMAKE_CXX_COMPILER="$prefix/bin/$triple-clang++" \
        -DCMAKE_ASM_COMPILER="$prefix/bin/$triple-clang" \
        -DCMAKE_C_COMPILER_WORKS=TRUE -DCMAKE_CXX_COMPILER_WORKS=TRUE -DCMAKE_ASM_COMPILER_WORKS=TRUE \
        -DCMAKE_C_FLAGS="$(path_maps)" -DCMAKE_CXX_FLAGS="$(path_maps)" -DCMAKE_ASM_FLAGS="$(path_maps)" \
        -DCMAKE_AR="$llvm_bin/llvm-ar" -DCMAKE_RANLIB="$llvm_bin/llvm-ranlib" \
        -DLLVM_INCLUDE_TESTS=OFF -DLLVM_INCLUDE_DOCS=OFF -DCMAKE_INSTALL_PREFIX="$install_prefix" \
        "$@" "$source_dir"
}

compiler_rt_builtins() {
    mkdir -p "$build/builtins" && cd "$build/builtins"
    runtime_cmake "$build/llvm-project/compiler-rt/lib/builtins" "$prefix/lib/clang/$llvm_major" \
        -DCMAKE_C_COMPILER_TARGET=$triple -DCOMPILER_RT_DEFAULT_TARGET_ONLY=TRUE \
        -DCOMPILER_RT_USE_BUILTINS_LIBRARY=TRUE -DCOMPILER_RT_BUILD_BUILTINS=TRUE \
        -DLLVM_ENABLE_PER_TARGET_RUNTIME_DIR=OFF -DLLVM_CONFIG_PATH=
    ninja -j"$jobs"
    ninja install
}

# Static libraries only, their symbols hidden: a DLL linked with them exports what its
# module-definition file names and nothing of libunwind's or libc++'s.
llvm_runtimes() {
    mkdir -p "$build/runtimes" && cd "$build/runtimes"
    runtime_cmake "$build/llvm-project/runtimes" "$prefix/$triple" \
        -DCMAKE_CXX_COMPILER_TARGET=$triple -DLLVM_ENABLE_RUNTIMES="libunwind;libcxxabi;libcxx" \
        -DLIBUNWIND_USE_COMPILER_RT=ON -DLIBUNWIND_ENABLE_SHARED=OFF -DLIBUNWIND_ENABLE_STATIC=ON \
        -DLIBUNWIND_HIDE_SYMBOLS=ON \
        -DLIBCXXABI_USE_COMPILER_RT=ON -DLIBCXXABI_USE_LLVM_UNWINDER=ON -DLIBCXXABI_ENABLE_SHARED=OFF \
        -DLIBCXXABI_HERMETIC_STATIC_LIBRARY=ON -DLIBCXXABI_LIBDIR_SUFFIX= \
        -DLIBCXX_USE_COMPILER_RT=ON -DLIBCXX_ENABLE_SHARED=OFF -DLIBCXX_ENABLE_STATIC=ON \
        -DLIBCXX_ENABLE_STATIC_ABI_LIBRARY=ON -DLIBCXX_CXX_ABI=libcxxabi -DLIBCXX_LIBDIR_SUFFIX= \
        -DLIBCXX_HERMETIC_STATIC_LIBRARY=ON -DLIBCXX_ENABLE_ABI_LINKER_SCRIPT=OFF \
        -DLIBCXX_INCLUDE_TESTS=OFF -DLIBCXX_INCLUDE_BENCHMARKS=OFF
    ninja -j"$jobs"
    ninja install
}

# A C++ DLL with a module-definition file, exceptions and a thread, linked statically: it must
# export its one name, import Windows system DLLs only, and name no folder of the toolchain's.
check_toolchain() {
    mkdir -p "$build/check" && cd "$build/check"
    cat >check.cpp <<'EOF'
#include <windows.h>
#include <stdexcept>
#include <string>
#include <thread>
extern "C" int __stdcall TorvCheck(int value) {
    int result = 0;
    std::thread worker([&] {
        try { throw std::runtime_error(std::to_string(value)); }
        catch (const std::exception& e) { result = std::stoi(e.what()) + 1; }
    });
    worker.join();
    return result;
}
EOF
    printf 'EXPORTS\n    TorvCheck\n' >check.def
    "$prefix/bin/$triple-clang++" -std=c++17 -O2 -shared -static -o check.dll check.cpp check.def
    exports=$("$llvm_bin/llvm-readobj" --coff-exports check.dll | sed -n 's/^ *Name: //p')
    [ "$exports" = TorvCheck ] || { echo "exports: $exports"; return 1; }
    imports=$("$llvm_bin/llvm-readobj" --coff-imports check.dll | sed -n 's/^ *Name: //p' | tr 'A-Z' 'a-z')
    for dll in $imports; do
        case "$dll" in kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll) ;; *) echo "imports $dll"; return 1 ;; esac
    done
    if grep -q -F -e "$build" -e "$prefix" check.dll; then
        echo "check.dll names the folder it was built in"
        return 1
    fi
}

make_toolchain() {
    for tool in clang clang++ ld.lld llvm-ar llvm-ranlib llvm-dlltool llvm-windres llvm-readobj; do
        [ -x "$llvm_bin/$tool" ] || fail "$llvm_bin/$tool is missing: run scripts/setup (clang-$llvm_major, lld-$llvm_major, llvm-$llvm_major)"
    done
    mingw_version=$(source_version mingw-w64)
    llvm_version=$(source_version llvm-toolchain-$llvm_major)
    if [ -z "$mingw_version" ] || [ -z "$llvm_version" ]; then
        fail "no deb-src entry lists mingw-w64 and llvm-toolchain-$llvm_major for $release: run scripts/setup, whose third_party/fetch-sources adds them"
    fi
    prefix="$cache/r$recipe-clang-$(clang_version)-mingw-w64-$mingw_version-llvm-$llvm_version"
    mkdir -p "$cache"
    # One build at a time per toolchain, whichever clone asks for it; the others wait and take it.
    exec 9>"$prefix.lock"
    flock 9
    if [ ! -f "$prefix/complete" ]; then
        build_toolchain
    fi
    exec 9>&-
    echo "$prefix"
}

build_toolchain() {
    echo "arm64-toolchain: building $prefix (once per machine; about 15 minutes of CPU time)" >&2
    started=$(date +%s)
    mingw_tarball=$(fetch_orig mingw-w64)
    llvm_tarball=$(fetch_orig llvm-toolchain-$llvm_major)
    build="$prefix.build"
    rm -rf "$prefix" "$build"
    mkdir -p "$prefix" "$build"
    jobs=${TORV_TOOLCHAIN_JOBS:-$(nproc)}
    step unpack unpack_sources
    step drivers write_drivers
    step mingw-headers mingw_headers
    step mingw-crt mingw_crt
    step compiler-rt-builtins compiler_rt_builtins
    step llvm-runtimes llvm_runtimes
    step check check_toolchain
    # What the shell's children used, user and system: the second line of "times", which must run
    # in this shell (in a command substitution it would count the substitution's own children).
    times >"$build/times"
    cpu=$(sed -n 2p "$build/times")
    cd "$cache"
    rm -rf "$build"
    {
        echo "mingw-w64 $mingw_version (upstream tarball $(basename "$mingw_tarball"))"
        echo "llvm-toolchain-$llvm_major $llvm_version (upstream tarball $(basename "$llvm_tarball"))"
        echo "clang-$llvm_major $(clang_version)"
        echo "built in $(( $(date +%s) - started )) s; CPU time of the build, user and system: $cpu"
        echo "size: $(du -sk "$prefix" | cut -f1) KiB"
    } >"$prefix/complete.tmp"
    mv "$prefix/complete.tmp" "$prefix/complete"
    sed 's/^/arm64-toolchain: /' "$prefix/complete" >&2
}

case "${1:-}" in
  make) make_toolchain ;;
  path)
    complete_toolchain \
        || fail "no ARM64 toolchain for clang-$llvm_major $(clang_version) in $cache: the build makes it (cmake/arm64-toolchain.sh make)"
    ;;
  *) echo "usage: $0 make|path" >&2; exit 2 ;;
esac
