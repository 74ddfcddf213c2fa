# Quick start:
#   make run    build SocPreInit.efi and run it under emulation on the virtual board
#   make test   build with g++, clang++ and the sanitizers and run every test
PRESETS := gcc clang sanitize
FUZZ_SECONDS ?= 600
PEI_SIM := build/gcc/Tools/PeiSim/pei-sim
IMAGE := build/gcc/SocPreInit.efi

PREFIX ?= /usr/local

.PHONY: all deps run qemu debug install man test bench bench-icount report fuzz fuzz-smoke build-fuzz coverage coverage-image $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS)) clean

all: build-gcc

deps:
	@bash scripts/install-deps.sh

$(addprefix build-,$(PRESETS)): build-%: deps
	cmake --preset $* >/dev/null
	cmake --build --preset $*

$(addprefix test-,$(PRESETS)): test-%: build-%
	ctest --preset $*

# The real IA-32 image under emulation on the default virtual board.
run: build-gcc
	$(PEI_SIM) run --image $(IMAGE) --stats

# SocPreInit.rom booted from the reset vector on QEMU's q35 machine, judged by
# QEMU's own devices and trace.
qemu: build-gcc
	$(PEI_SIM) qemu --rom build/gcc/SocPreInit.rom --image $(IMAGE) --stats

# The module on QEMU under gdb, stopped at ModuleEntry with its source, for a
# person at a terminal (README: "Debugging the module with gdb").
# DEBUG_OPTIMIZE=-Og (or -O0, -O1) debugs a less optimised copy of the module,
# build/gcc/Debug/SocPreInit.efi, instead; the shipped image does not change.
debug: build-gcc
ifeq ($(DEBUG_OPTIMIZE),)
	bash scripts/debug.sh $(PEI_SIM) $(IMAGE)
else
	cmake --preset gcc -DSOC_IA32_DEBUG_OPTIMIZE=$(DEBUG_OPTIMIZE) >/dev/null
	cmake --build --preset gcc --target socpreinit_debug_image
	bash scripts/debug.sh $(PEI_SIM) build/gcc/Debug/SocPreInit.efi
endif

test: $(addprefix test-,$(PRESETS)) fuzz-smoke

build-fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz

# libFuzzer on both forms of the engine, their differential, the board and the image, FUZZ_SECONDS per target.
fuzz: build-fuzz
	bash scripts/fuzz.sh build/fuzz $(FUZZ_SECONDS)

# The bounded run that make test includes: about two minutes in all.
fuzz-smoke: build-fuzz
	bash scripts/fuzz.sh build/fuzz 25

# Line and branch coverage of the module and library sources by the test suite.
coverage: deps
	cmake --preset coverage >/dev/null
	cmake --build --preset coverage
	find build/coverage -name '*.gcda' -delete
	ctest --preset coverage >/dev/null
	gcovr -r . --object-directory build/coverage -f 'MdePkg/' -f 'SocPreInit/' --exclude-throw-branches --exclude-unreachable-branches
	gcovr -r . --object-directory build/coverage -f 'MdePkg/' -f 'SocPreInit/' --exclude-throw-branches --exclude-unreachable-branches --branches

# Instruction and branch coverage of the three IA-32 images by every suite that
# runs them, by source line: build/gcc/coverage-image/ (tracefile, HTML page).
coverage-image: build-gcc
	bash scripts/coverage-image.sh build/gcc

# Size, instructions and stack depth of the real image under emulation, and the
# boot cost of SocPreInit.rom on QEMU by phase (a gate at 20,000 instructions
# from reset to the module's return).
report: build-gcc
	$(PEI_SIM) report --image $(IMAGE) --debug-image build/gcc/Tests/SocPreInitDebug.efi \
	  --engine-image build/gcc/Tests/EngineTest.efi --rom build/gcc/SocPreInit.rom
	@echo; echo "shipped artifacts (SHA-256, bytes)"
	@for f in build/gcc/SocPreInit.efi build/gcc/SocPreInit.ffs build/gcc/SocPreInit.fv build/gcc/SocPreInit.rom build/gcc/SocPreInit.debug; do \
	  printf '  %s  %6s  %s\n' "$$(sha256sum $$f | cut -d' ' -f1)" "$$(stat -c %s $$f)" "$$(basename $$f)"; done
	@echo; echo "coverage of SocPreInit.efi by the image test matrix (make coverage-image)"
	@bash scripts/coverage-image.sh build/gcc --module-only

# The manual page made from pei-sim --help: man -l build/gcc/pei-sim.1
man: build-gcc
	@echo build/gcc/pei-sim.1

# pei-sim with its manual page, the artifacts with their link map, the ROM and
# its parts, the README and docs/.
install: build-gcc
	cmake --install build/gcc --prefix $(PREFIX)

# Engine against glibc snprintf and stb_sprintf: times and ratios in one run.
bench: build-gcc
	build/gcc/Bench/engine-bench --benchmark_color=false

# Instructions per call of the same cases, counted by callgrind.
bench-icount: build-gcc
	bash scripts/bench-icount.sh build/gcc

clean:
	rm -rf build
