// Save and load throughput of the serializer on two generated documents, in both formats, on
// in-memory files (the disk is not measured):
//   ArrayHeavy     - a few meshes holding millions of reals and integers;
//   StructureHeavy - hundreds of thousands of small scene nodes sharing meshes and materials.
// Reports bytes/s of document and objects/s. Not part of the test suite: run `make bench`.
#include <benchmark/benchmark.h>

#include "Scene.hpp"

namespace {

struct Workload {
  const char* name;
  demo::SceneShape shape;
};

const Workload kArrayHeavy{"ArrayHeavy", {4, 500000, 8, 2}};
const Workload kStructureHeavy{"StructureHeavy", {1000, 3, 200000, 10}};

struct Fixture {
  zr::ref<zrX::Registry> registry = demo::makeSceneRegistry();
  zr::ref<zr::ResourceDatabase> scene;
  size_t objects = 0;
};

Fixture& fixture(const Workload& workload) {
  static Fixture arrays, structures;
  Fixture& f = &workload == &kArrayHeavy ? arrays : structures;
  if (!f.scene) {
    f.scene = demo::makeScene(workload.shape);
    const demo::SceneCounts c = demo::countScene(f.scene.get());
    f.objects = c.nodes + c.meshes + c.materials + 1;
  }
  return f;
}

bool save(zrX::ZRXSerializer& s, zr::VirtualFile* file, const zr::Object* scene, bool text) {
  return text ? s.saveZRT(file, scene, true) : s.saveZRB(file, scene, true);
}

void report(benchmark::State& state, size_t bytes, size_t objects) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["objects/s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * objects), benchmark::Counter::kIsRate);
  state.counters["bytes"] = static_cast<double>(bytes);
}

void Save(benchmark::State& state, const Workload* workload, bool text) {
  Fixture& f = fixture(*workload);
  zrX::ZRXSerializer serializer;
  serializer.setRegistry(f.registry.get());
  zr::ref<zr::MemoryFile> file = new zr::MemoryFile;
  for (auto _ : state) {
    if (!save(serializer, file.get(), f.scene.get(), text)) state.SkipWithError("save failed");
  }
  report(state, file->data().size(), f.objects);
}

void Load(benchmark::State& state, const Workload* workload, bool text) {
  Fixture& f = fixture(*workload);
  zrX::ZRXSerializer serializer;
  serializer.setRegistry(f.registry.get());
  zr::ref<zr::MemoryFile> file = new zr::MemoryFile;
  if (!save(serializer, file.get(), f.scene.get(), text)) {
    state.SkipWithError("save failed");
    return;
  }
  for (auto _ : state) {
    zr::ref<zr::Object> loaded =
        text ? serializer.loadZRT(file.get(), true) : serializer.loadZRB(file.get(), true);
    if (!loaded) state.SkipWithError("load failed");
    serializer.reset();  // free the document now, inside the measured loop
  }
  report(state, file->data().size(), f.objects);
}

BENCHMARK_CAPTURE(Save, ArrayHeavy_ZRT, &kArrayHeavy, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Load, ArrayHeavy_ZRT, &kArrayHeavy, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Save, ArrayHeavy_ZRB, &kArrayHeavy, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Load, ArrayHeavy_ZRB, &kArrayHeavy, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Save, StructureHeavy_ZRT, &kStructureHeavy, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Load, StructureHeavy_ZRT, &kStructureHeavy, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Save, StructureHeavy_ZRB, &kStructureHeavy, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Load, StructureHeavy_ZRB, &kStructureHeavy, false)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
