# Front door: every target installs what is missing first.
MAKEFLAGS += --no-print-directory
.PHONY: all setup native win32 plugin test demo dist bench clean

all: plugin

setup:
	@bash scripts/setup

native: setup
	@cmake --preset native >/dev/null
	@cmake --build --preset native -j2

win32: setup
	@cmake --preset win32 >/dev/null
	@cmake --build --preset win32 -j2

plugin: win32
	@echo "built build/win32/MorvaHealthRing.asi"

demo: native win32
	@scripts/demo

# The benchmarks are built too, so that they keep compiling; make bench runs them.
test: native win32
	@cmake --preset bench >/dev/null
	@cmake --build --preset bench -j2
	@ctest --preset native -j2
	@ctest --preset win32

dist: native win32
	@scripts/make-dist build/win32/MorvaHealthRing.asi build/DEVIZAR.txd dist/MorvaHealthRing-$$(sed -n 's/^project(MorvaHealthRing VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt).zip

bench: setup
	@cmake --preset bench >/dev/null
	@cmake --build --preset bench -j2
	@build/bench/bench/frame_bench
	@scripts/count-instructions

clean:
	rm -rf build dist
