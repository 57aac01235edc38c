# make run  - installs what is missing, builds and starts Zygomet
# make test - installs what is missing, builds and runs every test
# make package - builds the Debian package from a Release build
BUILD ?= build
ASAN_BUILD ?= build-asan
RELEASE_BUILD ?= build-release
RELEASE_CHECK_BUILD ?= build-release-check
CMAKE_FLAGS ?=
# The development builds hold our sources to no warnings; a plain cmake
# build (a user's, the package's) does not.
DEV_FLAGS = -DZYGOMET_WERROR=ON

.PHONY: run test build deps bench asan package release-check format screenshot clean r-package r-check

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -G Ninja $(DEV_FLAGS) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)

run: build
	./$(BUILD)/zygomet

# CI (which sets CI=true) also builds every target in Release; a newcomer's
# make test runs the suites only (make release-check runs that build).
# No suite reads the terminal, and one that stops making progress is stopped
# after 15 minutes with its output and run once more, so a hang is reported
# by name instead of holding the run.
test: build
	@bash R/build-package.sh $(BUILD)
	cd $(BUILD) && ctest --output-on-failure -j2 --timeout 900 --repeat after-timeout:2 </dev/null
	@if [ "$$CI" = true ]; then $(MAKE) --no-print-directory release-check; fi

# The R package zygomet, built from R/zygomet with the engine's sources and
# installed into $(BUILD)/r/library (R_LIBS=$(BUILD)/r/library loads it);
# r-check also runs R CMD check on it.
r-package: build
	@bash R/build-package.sh $(BUILD)

r-check: build
	@bash R/build-package.sh $(BUILD) --check

# Every target, tests included, built in Release (what a packager or a user
# building everything gets, with -O3), with warnings as errors, in a folder
# of its own; nothing is run there.
release-check: deps
	@cmake -S . -B $(RELEASE_CHECK_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(DEV_FLAGS) \
	  $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(RELEASE_CHECK_BUILD)
	@echo "Every target builds in Release ($(RELEASE_CHECK_BUILD))."

# Times the engine, the exact power and the window's Run command.
bench: build
	./$(BUILD)/zygomet-bench

# Every suite and the end-to-end test under AddressSanitizer and
# UndefinedBehaviorSanitizer, in a build folder of their own.
asan: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZYGOMET_SANITIZE=ON $(DEV_FLAGS) \
	  $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(ASAN_BUILD)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j2

# The Debian package zygomet_<version>_<arch>.deb (and, when pybind11 is
# installed, python3-zygomet_<version>_<arch>.deb), in this folder, from a
# Release build of its own that builds the installed programs only.
package: deps
	@cmake -S . -B $(RELEASE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(RELEASE_BUILD) --target zygomet_installables
	@rm -rf $(RELEASE_BUILD)/packages
	cpack --config $(RELEASE_BUILD)/CPackConfig.cmake -B $(RELEASE_BUILD)/packages
	@cp $(RELEASE_BUILD)/packages/*.deb .
	@echo "Wrote $$(cd $(RELEASE_BUILD)/packages && ls *.deb | tr '\n' ' ')"

# Formats every tracked C++ file with the project's .clang-format.
format:
	@bash scripts/check-format.sh --fix

screenshot: build
	QT_QPA_PLATFORM=offscreen ./$(BUILD)/zygomet-screenshot $(BUILD)/zygomet.png $(BUILD)/about.png \
	  $(BUILD)/powercurve.png $(BUILD)/definetti.png $(BUILD)/powercurve-kept.png \
	  $(BUILD)/powercurve-small.png $(BUILD)/definetti-1366.png $(BUILD)/definetti-1920.png \
	  $(BUILD)/sizechart.png $(BUILD)/powercurve-effect.png $(BUILD)/powercurve-x.png \
	  $(BUILD)/definetti-x.png
	@echo "Wrote $(BUILD)/zygomet.png, about.png, powercurve.png, definetti.png, powercurve-kept.png,"
	@echo "powercurve-small.png, definetti-1366.png, definetti-1920.png, sizechart.png,"
	@echo "powercurve-effect.png, powercurve-x.png and definetti-x.png"

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(RELEASE_BUILD) $(RELEASE_CHECK_BUILD)
