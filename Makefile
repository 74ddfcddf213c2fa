# Quick start:
#   make run    build and run the module on the virtual board
#   make test   build with g++, clang++ and the sanitizers and run every test
PRESETS := gcc clang sanitize
PEI_SIM := build/gcc/Tools/PeiSim/pei-sim

.PHONY: all deps run test $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS)) clean

all: build-gcc

deps:
	@bash scripts/install-deps.sh

$(addprefix build-,$(PRESETS)): build-%: deps
	cmake --preset $* >/dev/null
	cmake --build --preset $*

$(addprefix test-,$(PRESETS)): test-%: build-%
	ctest --preset $*

run: build-gcc
	$(PEI_SIM) run

test: $(addprefix test-,$(PRESETS))

clean:
	rm -rf build
