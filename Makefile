# VireoJTAG top-level commands. See README.md.
PRESETS := release asan
JOBS ?= $(shell nproc)

.PHONY: test bench bootstrap clean $(addprefix build-,$(PRESETS))

bootstrap:
	@bash scripts/bootstrap

build-%: bootstrap
	@cmake --preset $* >/dev/null
	@cmake --build --preset $* -j $(JOBS)

test: $(addprefix build-,$(PRESETS))
	@set -e; for p in $(PRESETS); do \
	  echo "== tests ($$p) =="; \
	  ctest --preset $$p -j $(JOBS); \
	done

bench: build-release
	@set -e; for b in build/release/bench/bench_*; do \
	  [ -x "$$b" ] || continue; echo "== $$(basename $$b) =="; "$$b"; \
	done

clean:
	rm -rf build
