# VireoJTAG top-level commands. See README.md.
PRESETS := release asan
JOBS ?= $(shell nproc)

.PHONY: demo test bench soak bootstrap build clean gui deb

bootstrap:
	@bash scripts/bootstrap

# Configures and builds every preset.
build: bootstrap
	@set -e; for p in $(PRESETS); do \
	  echo "== build ($$p) =="; \
	  cmake --preset $$p >/dev/null; \
	  cmake --build --preset $$p -j $(JOBS); \
	done

test: build
	@set -e; for p in $(PRESETS); do \
	  echo "== tests ($$p) =="; \
	  ctest --preset $$p -j $(JOBS); \
	done
	@echo "== tests with threads (tsan) =="
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan -j $(JOBS) --target test_app test_xvc
	@ctest --preset tsan -j $(JOBS)

# The main job on the virtual board, visible step by step.
demo: bootstrap
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS)
	@bash scripts/demo build/release/bin

# Builds the window and starts it; SIM=kb2203 make gui starts it on that virtual board.
gui: bootstrap
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS) --target vireopg device_database synthetic_bitstreams fx3_stand_in_image
	@build/release/bin/vireopg $(if $(SIM),--sim $(SIM))

bench: bootstrap
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS)
	@set -e; out=build/release/bench/results; rm -rf $$out; mkdir -p $$out; \
	for b in build/release/bench/bench_*; do \
	  [ -x "$$b" ] || continue; echo "== $$(basename $$b) =="; \
	  "$$b" --benchmark_out=$$out/$$(basename $$b).json --benchmark_out_format=json; \
	done; bash scripts/bench-summary $$out

# The flash commands' property test with fresh seeds for SECONDS seconds. A failure prints the
# seed that replays it: cd build/release/bin && VIREO_PROPERTY_SEED=<seed> ../tests/test_flash_property
SECONDS ?= 600
soak: bootstrap
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS) --target test_flash_property
	@cd build/release/bin && VIREO_SOAK_SECONDS=$(SECONDS) ../tests/test_flash_property

# The Debian package (CPack) from the release preset, then a check of what it installs.
deb: bootstrap
	@cmake --preset release >/dev/null
	@cmake --build --preset release -j $(JOBS)
	@cd build/release && cpack -G DEB >/dev/null && ls -1 $$PWD/vireojtag_*.deb
	@bash scripts/check-deb build/release/vireojtag_*.deb

clean:
	rm -rf build
