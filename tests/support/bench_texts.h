#pragma once

// The simulated benches tests stand on, in one place so that a changed instrument model
// shows up everywhere at once. Most tests take the standard bench; the variants differ
// only where a test needs something the standard bench must not have.
namespace benchcap::test {

// One instrument of each family the hardcopy paths tell apart: a foreign maker (3), a
// model without hardcopies (5), the transfer (7, 16), the plotter (9), firmware too old
// (12) and new enough (14), a block that breaks off after 100 bytes (20) and the
// generator's picture (28). Nothing answers at 25.
inline constexpr char kStandardBench[] = R"(
instruments:
  - {address: 3, kind: other-maker, idn: "Acme Instruments,AI-2000,12345,1.0"}
  - {address: 5, kind: other-maker, idn: "Veltronik,PBE2,100001/001,1.0"}
  - {address: 7, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,100871/012,1.70"}
  - {address: 9, kind: plotter-only, idn: "Veltronik,KLD4,100455/007,1.02"}
  - {address: 12, kind: spectrum-analyzer, idn: "Veltronik,KLR20,100112/004,1.60"}
  - {address: 14, kind: spectrum-analyzer, idn: "Veltronik,KLR30,100113/004,5.00"}
  - {address: 16, kind: network-analyzer, idn: "Veltronik,NQD8,100321/002,1.45"}
  - {address: 20, kind: vector-analyzer, idn: "Veltronik,KLVZ26,100234/003,2.10",
     faults: {block_cut_after: 100}}
  - {address: 28, kind: signal-generator, idn: "Veltronik,GWPZ10,100567/001,5.10"}
)";

// The trace readers: two traces shown (7), zero span (8), models without traces (9, 10),
// real and complex channels (16), vector analysis in pairs (20) and in symbols (21), and
// an analyzer that falls silent after six answers (22).
inline constexpr char kTraceBench[] = R"(
instruments:
  - {address: 7, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,1,1.70", traces_shown: [1, 3],
     center_hz: 1.0e9, span_hz: 1.0e7, points: 501}
  - {address: 8, kind: spectrum-analyzer, idn: "Veltronik,KLR20,1,3.1", span_hz: 0,
     sweep_time_s: 0.02, points: 101}
  - {address: 9, kind: other-maker, idn: "Veltronik,KLD4,1,1.02"}
  - {address: 10, kind: other-maker, idn: "Veltronik,PBH2,1,1.0"}
  - {address: 16, kind: network-analyzer, idn: "Veltronik,NQD8,1,1.45", points: 201,
     start_hz: 1.0e9, stop_hz: 3.0e9, channels: {1: real, 2: complex}}
  - {address: 20, kind: vector-analyzer, idn: "Veltronik,KLVZ26,1,2.10", span_hz: 0,
     sweep_time_s: 0, vector_mode: {symbols: 100, points_per_symbol: 4, layout: pairs}}
  - {address: 21, kind: vector-analyzer, idn: "Veltronik,KLVZ26,1,2.10", span_hz: 0,
     sweep_time_s: 0, vector_mode: {symbols: 100, points_per_symbol: 2, format: QPS,
     layout: symbols}}
  - {address: 22, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,1,1.70",
     faults: {silent_after: 6}}
)";

// The file transfer on its own: a panel hardcopy in black and white from drive C (16), a
// whole block (20), an address that never answers (25) and the generator (28).
inline constexpr char kTransferBench[] = R"(
instruments:
  - {address: 16, kind: network-analyzer, idn: "Veltronik,NQD8,100321/002,1.45",
     drives: ["C"], panel_format: BMP, panel_color: false}
  - {address: 20, kind: vector-analyzer, idn: "Veltronik,KLVZ26,100234/003,2.10"}
  - {address: 25, kind: silent}
  - {address: 28, kind: signal-generator, idn: "Veltronik,GWPZ10,100567/001,5.10"}
)";

// Real time and slow data, so that a stop request arrives in the middle of a transfer: a
// long trace (7), a long plot from plot.hpgl beside the bench file (9), a hardcopy (16)
// and an instrument that sends one byte a second (20).
inline constexpr char kSlowRealClockBench[] = R"(clock: real
instruments:
  - {address: 7, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,100871/012,1.70",
     points: 500000, rate_bytes_per_s: 2000000}
  - {address: 9, kind: plotter-only, idn: "Veltronik,KLD4,100455/007,1.02", plot_delay_s: 0,
     plot_file: plot.hpgl, rate_bytes_per_s: 200000}
  - {address: 16, kind: network-analyzer, idn: "Veltronik,NQD8,100321/002,1.45",
     rate_bytes_per_s: 2000000}
  - {address: 20, kind: spectrum-analyzer, idn: "Veltronik,KLT-3,100871/013,1.70",
     rate_bytes_per_s: 1}
)";

}  // namespace benchcap::test
