// The step picture at the top of a page: the step bitmap from the
// application directory when it exists, otherwise a drawn banner that
// names the three steps and marks the current one.
#pragma once

#include <QWidget>

#include <filesystem>
#include <string_view>

class QLabel;

namespace bmui {

inline constexpr std::string_view kStep1Picture = "Step1.bmp";
inline constexpr std::string_view kStep2Picture = "Step2.bmp";
inline constexpr std::string_view kStep5Picture = "Step5.bmp";

class StepPicture : public QWidget {
    Q_OBJECT
public:
    StepPicture(QWidget* parent, const std::filesystem::path& bitmap, int step);
    // Marks `step` (1 to 3) as the current one; a bitmap stays as it is.
    void SetStep(int step);
    int step() const { return step_; }
    // The banner's text; empty when the bitmap is shown.
    QString bannerText() const;

private:
    QLabel* banner_ = nullptr;
    int step_ = 1;
};

StepPicture* MakeStepPicture(QWidget* parent, const std::filesystem::path& bitmap, int step);

}  // namespace bmui
