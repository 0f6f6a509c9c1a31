#include "imageio/rawProcessingParams.h"

#include "base/failure.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr const char* kCaller = "dcrawArgsToLibRaw";

// Reads the values that follow an option; false when one is missing or not a number.
class argumentReader {
public:
    explicit argumentReader(const QStringList& args) : args_(args) {}
    bool atEnd() const { return next_ >= args_.size(); }
    QString take() { return args_.at(next_++); }
    bool number(double& value) {
        if (atEnd()) return false;
        bool ok = false;
        value = args_.at(next_++).toDouble(&ok);
        return ok && std::isfinite(value);
    }
    bool integer(int& value) {
        if (atEnd()) return false;
        bool ok = false;
        value = args_.at(next_++).toInt(&ok);
        return ok;
    }

private:
    const QStringList& args_;
    qsizetype next_ = 0;
};

bool badValue(QString* error, const QString& option) {
    return halvora::fail(error, kCaller, QString(),
                         QString("missing or invalid value after '%1'").arg(option));
}

} // namespace

namespace halvora {

bool dcrawArgsToLibRaw(const QStringList& args, libraw_output_params_t& params, QString* error) {
    argumentReader in(args);
    while (!in.atEnd()) {
        const QString option = in.take();
        double d = 0;
        int n = 0;
        if (option == "-w") {
            params.use_camera_wb = 1;
        } else if (option == "-a") {
            params.use_auto_wb = 1;
        } else if (option == "-r") {
            for (float& m : params.user_mul) {
                if (!in.number(d) || d < 0 || d > 1e6) return badValue(error, option);
                m = float(d);
            }
        } else if (option == "-A") {
            // Corner, width and height of the grey box in full-size pixels. A selection near the left or
            // top edge gives a negative corner, which would wrap around as an unsigned coordinate.
            int box[4];
            for (int& v : box)
                if (!in.integer(v)) return badValue(error, option);
            if (box[2] < 1 || box[3] < 1) return badValue(error, option);
            params.greybox[0] = unsigned(std::max(box[0], 0));
            params.greybox[1] = unsigned(std::max(box[1], 0));
            params.greybox[2] = unsigned(box[2]);
            params.greybox[3] = unsigned(box[3]);
            params.use_auto_wb = 1;
        } else if (option == "-f") {
            params.four_color_rgb = 1;
        } else if (option == "-n") {
            if (!in.number(d) || d < 0 || d > 1e6) return badValue(error, option);
            params.threshold = float(d);
        } else if (option == "-m") {
            if (!in.integer(n) || n < 0 || n > 100) return badValue(error, option);
            params.med_passes = n;
        } else if (option == "-o") {
            if (!in.integer(n) || n < 0 || n > 5) return badValue(error, option);
            params.output_color = n;
        } else if (option == "-h") {
            params.half_size = 1;
        } else if (option == "-H") {
            if (!in.integer(n) || n < 0 || n > 9) return badValue(error, option);
            params.highlight = n;
        } else if (option == "-g") {
            double power = 0, slope = 0;
            if (!in.number(power) || !in.number(slope) || power <= 0 || slope < 0)
                return badValue(error, option);
            params.gamm[0] = 1.0 / power;
            params.gamm[1] = slope;
        } else if (option == "-W") {
            params.no_auto_bright = 1;
        } else if (option == "-q") {
            if (!in.integer(n) || n < 0 || n > 3) return badValue(error, option);
            params.user_qual = n;
        } else if (option == "-6") {
            params.output_bps = 16;
        } else if (option == "-s") {
            // "-s -0" is the first image: the number's sign does not count.
            if (!in.integer(n) || n < -1000 || n > 1000) return badValue(error, option);
            params.shot_select = unsigned(std::abs(n));
        } else if (option == "-c") {
            // The picture stays in memory; there is no output stream to choose.
        } else {
            return halvora::fail(error, kCaller, QString(),
                                 QString("unknown RAW converter option '%1'").arg(option));
        }
    }
    return true;
}

} // namespace halvora
