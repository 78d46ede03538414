// Item dataset at launch size: 100,000 rows of the item fields.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "data/dataset.h"
#include "data/item_fields.h"
#include "data/packet.h"
#include "planning/seeded_random.h"

namespace dg::data {
namespace {

constexpr int kRows = 100'000;

using planning::SeededRandom;

std::string Text(SeededRandom& rng, int size) {
  const int len = 1 + static_cast<int>(rng.Next() % static_cast<std::uint32_t>(std::min(size, 40)));
  std::string s;
  for (int i = 0; i < len; ++i) s += static_cast<char>('A' + rng.Next() % 26);
  return s;
}

DataPacket MakeItemPacket() {
  DataPacket p;
  p.fields = ItemPacketFields();
  SeededRandom rng{42};
  p.rows.reserve(kRows);
  for (int r = 0; r < kRows; ++r) {
    std::vector<Variant> row;
    row.reserve(p.fields.size());
    for (const auto& f : p.fields) {
      switch (f.type) {
        case FieldType::String:
        case FieldType::Memo:
          if (f.name == "IDCHECK")
            row.emplace_back(rng.Next() % 4 ? "S" : "X");
          else if (f.name == "NRPEDIDO")
            row.emplace_back(std::to_string(100000 + r / 5));
          else if (f.name == "NRITEMPED")
            row.emplace_back(std::to_string(r % 5 + 1));
          else
            row.emplace_back(Text(rng, f.size));
          break;
        case FieldType::Double:
          row.emplace_back((rng.Next() % 100000) / 1000.0);
          break;
        case FieldType::Integer:
          row.emplace_back(static_cast<std::int64_t>(rng.Next() % 1000));
          break;
        case FieldType::DateTime:
          row.emplace_back(DateTime::FromParts(2024, 1 + static_cast<int>(rng.Next() % 12),
                                               1 + static_cast<int>(rng.Next() % 28)));
          break;
      }
    }
    p.rows.push_back(std::move(row));
  }
  return p;
}

const std::string& ItemBytes() {
  static const std::string bytes = EncodePacket(MakeItemPacket());
  return bytes;
}

// The item dataset as the screen defines it: every field, calculated ones
// included, with the calculate event of the item grid.
void DefineItems(ClientDataset& ds) {
  for (const auto& item : ItemFields()) {
    Field& f = item.calculated ? ds.AddCalculatedField(item.name, item.type, item.size)
                               : ds.AddField(item.name, item.type, item.size);
    f.display_label = item.label;
    f.display_format = item.display_format;
    f.visible = item.visible;
  }
  ds.on_calc_fields = [](ClientDataset& d) {
    const double qty = d.FieldByName("QTDEAEXP").AsFloat();
    d.FieldByName("VRPESOITEM").SetAsFloat(qty * d.FieldByName("VRPESOBRUTPR").AsFloat());
    d.FieldByName("VRVOLUMEITEM").SetAsFloat(qty * d.FieldByName("VRVOLMED").AsFloat());
  };
}

void BM_JsonParseOnly(benchmark::State& state) {
  const std::string& bytes = ItemBytes();
  for (auto _ : state) benchmark::DoNotOptimize(nlohmann::json::parse(bytes));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_JsonParseOnly)->Unit(benchmark::kMillisecond);

void BM_LoadItemPacket(benchmark::State& state) {
  const std::string& bytes = ItemBytes();
  for (auto _ : state) {
    ClientDataset ds("cdsExp");
    DefineItems(ds);
    ds.LoadPacket(DecodePacket(bytes));
    benchmark::DoNotOptimize(ds.RecordCount());
    state.PauseTiming();  // freeing 7.3 million cells is not loading
    ds.Close();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}
BENCHMARK(BM_LoadItemPacket)->Unit(benchmark::kMillisecond);

// As the screen has it: index and filter in force when the packet arrives.
void BM_LoadItemPacketIndexedFiltered(benchmark::State& state) {
  const std::string& bytes = ItemBytes();
  for (auto _ : state) {
    ClientDataset ds("cdsExp");
    DefineItems(ds);
    ds.SetIndexFieldNames("IDPRIOPED;DTENTPED;NRPEDIDO;NRITEMPED");
    ds.SetFilter("IDCHECK = 'S'");
    ds.SetFiltered(true);
    ds.LoadPacket(DecodePacket(bytes));
    benchmark::DoNotOptimize(ds.RecordCount());
    state.PauseTiming();
    ds.Close();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_LoadItemPacketIndexedFiltered)->Unit(benchmark::kMillisecond);

ClientDataset& LoadedItems() {
  static ClientDataset* ds = [] {
    auto* d = new ClientDataset("cdsExp");
    DefineItems(*d);
    d->SetIndexFieldNames("IDPRIOPED;DTENTPED;NRPEDIDO;NRITEMPED");
    d->LoadPacket(DecodePacket(ItemBytes()));
    return d;
  }();
  return *ds;
}

void BM_ExportItemPacket(benchmark::State& state) {
  ClientDataset& ds = LoadedItems();
  for (auto _ : state) benchmark::DoNotOptimize(EncodePacket(ds.Data()));
}
BENCHMARK(BM_ExportItemPacket)->Unit(benchmark::kMillisecond);

void BM_SwitchFilter(benchmark::State& state) {
  ClientDataset& ds = LoadedItems();
  ds.SetFiltered(true);
  bool s = true;
  for (auto _ : state) {
    ds.SetFilter(s ? "IDCHECK = 'S'" : "IDCHECK = 'X'");
    s = !s;
    benchmark::DoNotOptimize(ds.RecordCount());
  }
  ds.SetFiltered(false);
}
BENCHMARK(BM_SwitchFilter)->Unit(benchmark::kMillisecond);

// The totals walk: every visible item, QTDEAEXP x VRPESOBRUTPR and
// QTDEAEXP x VRVOLMED, with the grids kept from redrawing.
void BM_WalkFields(benchmark::State& state) {
  ClientDataset& ds = LoadedItems();
  ds.SetFilter("IDCHECK = 'S'");
  ds.SetFiltered(true);
  Field& qty = ds.FieldByName("QTDEAEXP");
  Field& weight = ds.FieldByName("VRPESOBRUTPR");
  Field& volume = ds.FieldByName("VRVOLMED");
  for (auto _ : state) {
    ControlsGuard quiet(ds);
    double w = 0, v = 0;
    for (ds.First(); !ds.Eof(); ds.Next()) {
      const double q = qty.AsFloat();
      w += q * weight.AsFloat();
      v += q * volume.AsFloat();
    }
    benchmark::DoNotOptimize(w);
    benchmark::DoNotOptimize(v);
  }
  state.SetItemsProcessed(state.iterations() * ds.RecordCount());
  ds.SetFiltered(false);
}
BENCHMARK(BM_WalkFields)->Unit(benchmark::kMicrosecond);

// The same walk through the dataset's record walk and inline column access:
// no current record moves, each cell is a load from the column.
void BM_WalkColumns(benchmark::State& state) {
  ClientDataset& ds = LoadedItems();
  ds.SetFilter("IDCHECK = 'S'");
  ds.SetFiltered(true);
  const NumberColumn qty = ds.Numbers(ds.FieldByName("QTDEAEXP"));
  const NumberColumn weight = ds.Numbers(ds.FieldByName("VRPESOBRUTPR"));
  const NumberColumn volume = ds.Numbers(ds.FieldByName("VRVOLMED"));
  for (auto _ : state) {
    double w = 0, v = 0;
    for (RecordWalk item = ds.Walk(); item.Next();) {
      const double q = qty.At(item.Row());
      w += q * weight.At(item.Row());
      v += q * volume.At(item.Row());
    }
    benchmark::DoNotOptimize(w);
    benchmark::DoNotOptimize(v);
  }
  state.SetItemsProcessed(state.iterations() * ds.RecordCount());
  ds.SetFiltered(false);
}
BENCHMARK(BM_WalkColumns)->Unit(benchmark::kMicrosecond);

// The reference: the same sums over plain vectors of the visible rows.
void BM_WalkPlainVectors(benchmark::State& state) {
  ClientDataset& ds = LoadedItems();
  ds.SetFilter("IDCHECK = 'S'");
  ds.SetFiltered(true);
  std::vector<double> qty, weight, volume;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    qty.push_back(ds.FieldByName("QTDEAEXP").AsFloat());
    weight.push_back(ds.FieldByName("VRPESOBRUTPR").AsFloat());
    volume.push_back(ds.FieldByName("VRVOLMED").AsFloat());
  }
  ds.SetFiltered(false);
  for (auto _ : state) {
    double w = 0, v = 0;
    for (std::size_t i = 0; i < qty.size(); ++i) {
      w += qty[i] * weight[i];
      v += qty[i] * volume[i];
    }
    benchmark::DoNotOptimize(w);
    benchmark::DoNotOptimize(v);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(qty.size()));
}
BENCHMARK(BM_WalkPlainVectors)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace dg::data

BENCHMARK_MAIN();
