# make run  - installs what is missing, builds and starts Zygomet
# make test - installs what is missing, builds and runs every test
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: run test build deps bench screenshot clean

deps:
	@bash scripts/install-deps.sh

build: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)

run: build
	./$(BUILD)/zygomet

test: build
	cd $(BUILD) && ctest --output-on-failure -j2

screenshot: build
	QT_QPA_PLATFORM=offscreen ./$(BUILD)/zygomet-screenshot $(BUILD)/zygomet.png $(BUILD)/about.png
	@echo "Wrote $(BUILD)/zygomet.png and $(BUILD)/about.png"

clean:
	rm -rf $(BUILD)
