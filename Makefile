# The two front-door commands: `make run` and `make test`. Both install what is missing first.
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= $(shell nproc)

.PHONY: run test test-asan bench package deps fuzz

deps:
	@scripts/install-deps

$(BUILD_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(ASAN_DIR)/CMakeCache.txt: | deps
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DCOFFERBOX_SANITIZE=ON

run: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)
	$(BUILD_DIR)/app/cofferbox

test: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure

test-asan: deps $(ASAN_DIR)/CMakeCache.txt
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && ctest --output-on-failure

bench: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS) --target zrv_bench
	$(BUILD_DIR)/bench/zrv_bench $(BENCH_ARGS)

package: deps $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS) --target cofferbox
	cd $(BUILD_DIR) && cpack

# Each fuzz target runs FUZZ_SECONDS on a copy of its seeds (new inputs go to the copy), with
# past crashes as more seeds; a crash is written to $(FUZZ_DIR)/crash-*. Without clang, the
# seeds are only replayed, as `make test` does.
fuzz: deps
	@if ! command -v clang++ >/dev/null; then \
		echo "clang++ missing: replaying the seeds only"; \
		$(MAKE) $(BUILD_DIR)/CMakeCache.txt; \
		cmake --build $(BUILD_DIR) -j $(JOBS) --target fuzz_unpack fuzz_entries; \
		cd $(BUILD_DIR) && exec ctest --output-on-failure -R fuzz_replay; \
	fi; \
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DCOFFERBOX_FUZZ=ON && \
	cmake --build $(FUZZ_DIR) -j $(JOBS) && \
	for target in unpack entries; do \
		rm -rf $(FUZZ_DIR)/corpus-$$target && cp -r fuzz/corpus/$$target $(FUZZ_DIR)/corpus-$$target && \
		$(FUZZ_DIR)/fuzz/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) -dict=fuzz/zip.dict \
			-artifact_prefix=$(FUZZ_DIR)/ -print_final_stats=1 \
			$(FUZZ_DIR)/corpus-$$target fuzz/crashes 2>$(FUZZ_DIR)/fuzz_$$target.log; \
		status=$$?; echo "fuzz_$$target:"; \
		if [ $$status -ne 0 ]; then grep -v '^zrv: ' $(FUZZ_DIR)/fuzz_$$target.log | tail -n 60; \
			exit $$status; fi; \
		grep -E '^#[0-9]+.*DONE|^stat::' $(FUZZ_DIR)/fuzz_$$target.log; \
	done
