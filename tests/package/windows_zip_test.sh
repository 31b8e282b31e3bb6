#!/usr/bin/env bash
# The Windows zip as users get it.
#   windows_zip_test.sh contents ZIP OBJDUMP
#     the files it holds, their checksums and line ends; the DLL stripped,
#     its debug link naming the file in the debug zip beside it, with its CRC
#   windows_zip_test.sh run ZIP TEST_HOST WINE
#     the test host, copied into the unpacked zip, runs a start-up and a step
#     jog through the zip's DLL under Wine (77: Wine cannot run 32-bit programs)
set -euo pipefail
mode=$1 zip=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir "$work/zip"
(cd "$work/zip" && cmake -E tar xf "$zip") || fail "cannot unpack $zip"
cd "$work/zip"

case $mode in
contents)
  objdump=$3
  # Exactly these files, and of the notices at least the C and C++ runtimes'
  # (the thread library's only when it is linked).
  ls -1 | sort >"$work/found"
  for f in K2TPendant.dll README-Windows.txt LICENSE.txt SHA256SUMS \
           NOTICE-gcc-runtime.txt NOTICE-mingw-w64-runtime.txt; do
    [[ -f $f ]] || fail "$f is missing from the zip"
  done
  extra=$(grep -v -x -E 'K2TPendant.dll|README-Windows.txt|LICENSE.txt|SHA256SUMS|NOTICE-(gcc-runtime|mingw-w64-runtime|winpthreads).txt' "$work/found" || true)
  [[ -z $extra ]] || fail "the zip holds files it should not: $extra"

  # SHA256SUMS lists every other file, and each sum holds.
  sed 's/^[0-9a-f]\{64\}  //' SHA256SUMS | sort >"$work/listed"
  grep -v -x SHA256SUMS "$work/found" | diff "$work/listed" - >/dev/null ||
    fail "SHA256SUMS does not list exactly the other files: $(tr '\n' ' ' <"$work/listed")"
  sha256sum --quiet -c SHA256SUMS || fail "a checksum in SHA256SUMS does not hold"

  # Text for Notepad: every line ends in CR LF.
  for f in *.txt; do
    if grep -q -v $'\r$' "$f"; then fail "$f has a line without CR LF"; fi
  done
  grep -q '^MIT License' LICENSE.txt || fail "LICENSE.txt is not the MIT licence"
  grep -q 'GCC RUNTIME LIBRARY EXCEPTION' NOTICE-gcc-runtime.txt || fail "NOTICE-gcc-runtime.txt lacks the exception"
  version=$(basename "$zip" | sed -n 's/^k2t-pendant-\(.*\)-windows-x86\.zip$/\1/p')
  [[ -n $version ]] || fail "$(basename "$zip") is not k2t-pendant-VERSION-windows-x86.zip"
  for topic in "XP SP3" SSE2 Plugins iTalvo_K2T_Pendant "Reporting a problem" "$version"; do
    grep -q -F "$topic" README-Windows.txt || fail "README-Windows.txt does not mention $topic"
  done

  # The DLL is stripped; its debug link names the file in the debug zip
  # beside it, and that file's CRC is the one the link records.
  sections=$("$objdump" -h K2TPendant.dll)
  if grep -q ' \.debug_' <<<"$sections"; then fail "K2TPendant.dll still has debug sections"; fi
  grep -q ' \.gnu_debuglink ' <<<"$sections" || fail "K2TPendant.dll has no debug link"
  "${objdump/objdump/objcopy}" --dump-section .gnu_debuglink="$work/link" K2TPendant.dll "$work/copy.dll"
  debug_zip=${zip%.zip}-debug.zip
  [[ -f $debug_zip ]] || fail "no $(basename "$debug_zip") beside the zip"
  mkdir "$work/debug"
  (cd "$work/debug" && cmake -E tar xf "$debug_zip")
  python3 - "$work/link" "$work/debug" <<'PY' || fail "the debug link does not match the debug zip"
import pathlib, struct, sys, zlib
link = pathlib.Path(sys.argv[1]).read_bytes()
name = link[:link.index(b"\0")].decode()
crc, = struct.unpack("<I", link[-4:])
files = [p.name for p in pathlib.Path(sys.argv[2]).iterdir()]
if files != [name]:
    sys.exit(f"the link names {name}, the debug zip holds {files}")
data = (pathlib.Path(sys.argv[2]) / name).read_bytes()
if zlib.crc32(data) != crc:
    sys.exit(f"{name}: CRC {zlib.crc32(data):08x}, the link says {crc:08x}")
print(f"debug link: {name}, CRC {crc:08x}")
PY
  echo "the zip holds: $(tr '\n' ' ' <"$work/found")"
  ;;
run)
  host=$3 wine=${4:-}
  if [[ -z $wine || ! -x $wine ]]; then
    echo "Wine is not installed: the zip's DLL cannot be run here" >&2
    exit 77
  fi
  cp "$host" ./k2t_dll_tests.exe
  if ! "$wine" ./k2t_dll_tests.exe --gtest_list_tests >"$work/list" 2>&1 || ! grep -q '^DllTest\.' "$work/list"; then
    echo "Wine cannot run the 32-bit test host here (is wine32 installed?):" >&2
    tail -5 "$work/list" >&2
    exit 77
  fi
  # LoadLibrary takes the DLL from the program's own folder first: this one.
  "$wine" ./k2t_dll_tests.exe \
    --gtest_filter='DllTest.StartsAndStopsAsAHostRunsIt:DllTest.StepJogSendsIncrementalGCode:DllTest.VersionResourceSays*' \
    | tee "$work/out"
  grep -q '^\[  PASSED  \] 3 tests' "$work/out" || fail "the start-up, step jog and version tests did not all pass"
  ;;
*)
  fail "unknown mode $mode"
  ;;
esac
