// trapft._core: the core's reader, grid and sweep on numpy arrays, with the GIL released while they run.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <complex>
#include <optional>
#include <cstdint>
#include <cstdio>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "trapft/array_sink.hpp"
#include "trapft/limits.hpp"
#include "trapft/reader.hpp"
#include "trapft/sweep.hpp"
#include "trapft/version.hpp"

namespace py = pybind11;

namespace {

using namespace trapft;

// Releases the GIL for its lifetime; signals_handled takes it back for a
// moment, as the sweep's progress callback does to look for Ctrl-C.
class gil_released {
public:
    gil_released() : state_(PyEval_SaveThread()) {}
    ~gil_released() { PyEval_RestoreThread(state_); }
    gil_released(const gil_released&) = delete;
    gil_released& operator=(const gil_released&) = delete;

    // Runs Python's signal handlers; false when one raised (the exception
    // stays set for the caller to throw once the GIL is back).
    bool signals_handled() {
        PyEval_RestoreThread(state_);
        const bool handled = PyErr_CheckSignals() == 0;
        state_ = PyEval_SaveThread();
        return handled;
    }

private:
    PyThreadState* state_;
};

// Signal handlers run at most this often during a long call: Ctrl-C stops it
// within about a piece of work plus this, without contending for the GIL.
constexpr auto signal_interval = std::chrono::milliseconds(50);

// Runs Python's signal handlers while the GIL is released: at most every
// signal_interval, or at once when asked (after a read that a signal
// interrupted). False once a handler raised; its exception stays set.
class signal_poll {
public:
    explicit signal_poll(gil_released& released)
        : released_(released), last_(std::chrono::steady_clock::now()) {}

    bool operator()(bool now = false) {
        const auto time = std::chrono::steady_clock::now();
        if (!now && time - last_ < signal_interval) return true;
        last_ = time;
        return released_.signals_handled();
    }

private:
    gil_released& released_;
    std::chrono::steady_clock::time_point last_;
};


py::array_t<double> empty_doubles(std::int64_t size) {
    return py::array_t<double>(static_cast<py::ssize_t>(size));
}

void make_read_only(py::array& array) { array.attr("setflags")(py::arg("write") = false); }

[[noreturn]] void throw_value_error(const std::string& message) { throw py::value_error(message); }

[[noreturn]] void throw_python(PyObject* type, const char* message) {
    PyErr_SetString(type, message);
    throw py::error_already_set();
}

// The options as the sweep takes them, refused with the tool's message.
sweep_options checked_options(int jobs, std::int32_t part, std::int32_t parts, double tolerance) {
    sweep_options options;
    options.jobs = jobs;
    options.part = part;
    options.parts = parts;
    options.tolerance = tolerance;
    const sweep_status status = check_sweep_options(options);
    if (status == sweep_status::fast_unavailable) throw_python(PyExc_NotImplementedError, sweep_message(status));
    if (status != sweep_status::ok) throw_value_error(sweep_message(status));
    return options;
}

// Reads a sample file as the tool does; returns (times, values).
py::tuple load(const std::string& path, bool double_precision, std::int32_t capacity) {
    if (capacity < 1) throw_value_error(capacity_message);
    read_options reading;
    reading.capacity = capacity;
    reading.double_precision = double_precision;
    sample_set samples;
    load_result loaded;
    int opening_error = 0;
    int reading_error = 0;
    {
        gil_released released;
        signal_poll poll(released);
        reading.keep_going = [&poll](bool interrupted) { return poll(interrupted); };
        // Opening a FIFO waits for a writer; a signal's handler that returns
        // lets it wait on, as Python's own open does.
        std::FILE* file = nullptr;
        bool stopped = false;
        for (;;) {
            errno = 0;
            file = std::fopen(path.c_str(), "r");
            if (file != nullptr || errno != EINTR) break;
            if (!poll(true)) {
                stopped = true;
                break;
            }
        }
        if (stopped) {
            loaded.status = load_status::stopped;
        } else if (file == nullptr) {
            opening_error = errno != 0 ? errno : ENOENT;
        } else {
            errno = 0;
            loaded = load_samples(file, samples, reading);
            reading_error = errno;
            std::fclose(file);
        }
    }
    const py::str name = py::reinterpret_steal<py::str>(PyUnicode_DecodeFSDefault(path.c_str()));
    if (opening_error != 0) {
        errno = opening_error;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, name.ptr());
        throw py::error_already_set();
    }
    switch (loaded.status) {
    case load_status::ok: break;
    case load_status::not_a_number:
    case load_status::time_without_value:
    case load_status::no_numbers:  // not given by a sample file
    case load_status::too_many_samples: throw_value_error(load_message(loaded, capacity));
    case load_status::out_of_memory: throw_python(PyExc_MemoryError, load_message(loaded, capacity).c_str());
    case load_status::stopped:  // a signal handler raised, KeyboardInterrupt as a rule
        if (PyErr_Occurred() != nullptr) throw py::error_already_set();
        throw_python(PyExc_RuntimeError, load_message(loaded, capacity).c_str());
    case load_status::read_error:
        // The system's reason (a directory, an I/O error) where it gave one.
        if (reading_error == 0) {
            PyErr_SetString(PyExc_OSError, load_message(loaded, capacity).c_str());
        } else {
            errno = reading_error;
            PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, name.ptr());
        }
        throw py::error_already_set();
    }
    const auto size = static_cast<std::int64_t>(samples.times.size());
    py::array_t<double> times = empty_doubles(size);
    py::array_t<double> values = empty_doubles(size);
    std::copy(samples.times.begin(), samples.times.end(), times.mutable_data());
    std::copy(samples.values.begin(), samples.values.end(), values.mutable_data());
    return py::make_tuple(std::move(times), std::move(values));
}

// Frequencies of the slice's lines of the running-sum grid.
py::array_t<double> frequencies(double start, double end, std::int32_t count, std::int32_t part, std::int32_t parts) {
    if (count < 0) throw_value_error(count_message);
    sweep_options options = checked_options(1, part, parts, 0.0);
    py::array_t<double> out = empty_doubles(sweep_lines(count, options));  // MemoryError before any work
    sweep_status status = sweep_status::ok;
    {
        gil_released released;
        signal_poll poll(released);
        options.progress = [&poll](std::int64_t, std::int64_t) { return poll(); };
        status = sweep_frequencies(start, end, count, options, out.mutable_data());
    }
    if (status != sweep_status::ok) throw py::error_already_set();  // a signal handler raised
    make_read_only(out);
    return out;
}

using optional_doubles = std::optional<py::array_t<double, py::array::c_style>>;

// The sweep of each row of `values` (one row when it is 1-D) into arrays
// reserved first, at the grid's frequencies or those of `list` (1-D) where
// given, with the trapezoid's weights or `weights` (1-D, one per sample);
// returns (frequency, transform, magnitude).
py::tuple spectrum(const py::array_t<double, py::array::c_style>& times,
                   const py::array_t<double, py::array::c_style>& values, double start, double end,
                   std::int32_t count, double tolerance, int jobs, std::int32_t part, std::int32_t parts,
                   const optional_doubles& list, const optional_doubles& weights) {
    if (list && list->ndim() != 1) throw_value_error("frequencies must be one-dimensional");
    if (list && list->shape(0) > INT32_MAX) throw_value_error("frequencies has more entries than 2**31 - 1");
    if (list) count = static_cast<std::int32_t>(list->shape(0));
    if (count < 0) throw_value_error(count_message);
    sweep_options options = checked_options(jobs, part, parts, tolerance);
    if (times.ndim() != 1) throw_value_error("times must be one-dimensional");
    if (values.ndim() != 1 && values.ndim() != 2) throw_value_error("values must be one- or two-dimensional");
    const py::ssize_t samples = times.shape(0);
    const bool batch = values.ndim() == 2;
    const py::ssize_t rows = batch ? values.shape(0) : 1;
    if (rows > INT32_MAX) throw_value_error("values has more rows than 2**31 - 1");
    if (values.shape(values.ndim() - 1) != samples)
        throw_value_error("times and values differ in length (" + std::to_string(samples) + " and " +
                          std::to_string(values.shape(values.ndim() - 1)) + ")");
    if (weights && (weights->ndim() != 1 || weights->shape(0) != samples))
        throw_value_error("weights must be one-dimensional, one per sample (" + std::to_string(samples) + ")");

    // Everything the caller gets is reserved before any work.
    const std::int64_t lines = sweep_lines(count, options);
    py::array_t<double> frequency = empty_doubles(lines);
    py::array_t<std::complex<double>> transform =
        batch ? py::array_t<std::complex<double>>({rows, static_cast<py::ssize_t>(lines)})
              : py::array_t<std::complex<double>>(static_cast<py::ssize_t>(lines));
    py::array_t<double> magnitude = batch ? py::array_t<double>({rows, static_cast<py::ssize_t>(lines)})
                                          : empty_doubles(lines);

    const double* const time_data = times.data();
    const double* const value_data = values.data();
    double* const frequency_data = frequency.mutable_data();
    auto* const transform_data = reinterpret_cast<double*>(transform.mutable_data());
    double* const magnitude_data = magnitude.mutable_data();
    const auto n = static_cast<std::size_t>(samples);
    const std::span<const double> listed =
        list ? std::span<const double>(list->data(), static_cast<std::size_t>(count)) : std::span<const double>();
    const std::span<const double> weighting = weights ? std::span<const double>(weights->data(), n) : std::span<const double>();

    sweep_status status = sweep_status::ok;
    {
        gil_released released;
        signal_poll poll(released);
        options.progress = [&poll](std::int64_t, std::int64_t) { return poll(); };
        if (rows == 0 && list) status = sweep_frequencies(listed, options, frequency_data);
        else if (rows == 0) status = sweep_frequencies(start, end, count, options, frequency_data);
        // One sink per row, the grid taken from the first; the rows are swept together.
        std::vector<array_sink> row_sinks;
        std::vector<spectrum_sink*> sinks;
        row_sinks.reserve(static_cast<std::size_t>(rows));
        for (py::ssize_t row = 0; row < rows; ++row) {
            const auto offset = static_cast<std::size_t>(row) * static_cast<std::size_t>(lines);
            spectrum_arrays arrays;
            arrays.frequency = row == 0 ? frequency_data : nullptr;
            arrays.real = transform_data + 2 * offset;
            arrays.imaginary = arrays.real + 1;
            arrays.stride = 2;
            arrays.magnitude = magnitude_data + offset;
            arrays.capacity = lines;
            row_sinks.emplace_back(arrays);
            sinks.push_back(&row_sinks.back());
        }
        const sample_rows batch_view(std::span<const double>(time_data, n),
                                     std::span<const double>(value_data, n * static_cast<std::size_t>(rows)),
                                     static_cast<std::int32_t>(rows), weighting);
        if (status == sweep_status::ok && list) status = run_sweep(batch_view, listed, options, sinks);
        else if (status == sweep_status::ok) status = run_sweep(batch_view, start, end, count, options, sinks);
    }
    switch (status) {
    case sweep_status::ok: break;
    case sweep_status::stopped:
        if (PyErr_Occurred() != nullptr) throw py::error_already_set();  // KeyboardInterrupt, as a rule
        throw_python(PyExc_RuntimeError, sweep_message(status));
    case sweep_status::out_of_memory: throw_python(PyExc_MemoryError, sweep_message(status));
    case sweep_status::fast_unavailable: throw_python(PyExc_NotImplementedError, sweep_message(status));
    case sweep_status::invalid_samples:
    case sweep_status::invalid_weights:
    case sweep_status::invalid_frequencies:
    case sweep_status::invalid_jobs:
    case sweep_status::invalid_part:
    case sweep_status::invalid_tolerance:
    case sweep_status::invalid_instruction_set: throw_value_error(sweep_message(status));
    case sweep_status::threads_failed:
    case sweep_status::write_failed: throw std::runtime_error(sweep_message(status));
    }
    make_read_only(frequency);
    make_read_only(transform);
    make_read_only(magnitude);
    return py::make_tuple(std::move(frequency), std::move(transform), std::move(magnitude));
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "The core of trapft on numpy arrays; use the functions of the package trapft.";
    m.attr("__version__") = trapft::version;
    m.attr("fast_evaluation_available") = fast_evaluation_available();
    // The ranges the core accepts, (lowest, highest), for the package's messages.
    py::dict limits;
    limits["tolerance"] = py::make_tuple(min_tolerance, max_tolerance);
    limits["jobs"] = py::make_tuple(0, max_jobs);
    limits["count"] = py::make_tuple(0, max_count);
    limits["parts"] = py::make_tuple(1, max_count);
    limits["max_samples"] = py::make_tuple(1, max_count);
    m.attr("limits") = limits;
    // Their messages, the core's words.
    py::dict messages;
    messages["tolerance"] = tolerance_message;
    messages["jobs"] = jobs_message;
    messages["count"] = count_message;
    messages["part"] = part_message;
    messages["max_samples"] = capacity_message;
    m.attr("messages") = messages;
    m.def("load", &load, py::arg("path"), py::arg("double_precision"), py::arg("capacity"));
    m.def("frequencies", &frequencies, py::arg("start"), py::arg("end"), py::arg("count"), py::arg("part"),
          py::arg("parts"));
    m.def("spectrum", &spectrum, py::arg("times"), py::arg("values"), py::arg("start"), py::arg("end"),
          py::arg("count"), py::arg("tolerance"), py::arg("jobs"), py::arg("part"), py::arg("parts"),
          py::arg("frequencies").none(true), py::arg("weights").none(true));
}
