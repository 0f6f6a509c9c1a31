#pragma once
// The picture views of the RAW-loading, manual-alignment, chromatic-aberration and ghost-mask
// dialogs. Each is the main view (zoom, scrolling, dragging, cache levels, banded drawing, sampling)
// under its own name, so that its dialog can add its own mouse tools to it (the alignment pins:
// manualAlignmentWorkspace.h). Main thread only.

#include "ui/mainWorkspace.h"
#include "ui/manualAlignmentWorkspace.h"

class rawLoadWorkspace : public mainWorkspace {
    Q_OBJECT
public:
    explicit rawLoadWorkspace(QWidget* parent = nullptr) : mainWorkspace(parent) {
        setObjectName("rawLoadWorkspace");
    }
};

class chromAberrCorrectionWorkspace : public mainWorkspace {
    Q_OBJECT
public:
    explicit chromAberrCorrectionWorkspace(QWidget* parent = nullptr) : mainWorkspace(parent) {
        setObjectName("chromAberrCorrectionWorkspace");
    }
};

class ghostRemovalWorkspace : public mainWorkspace {
    Q_OBJECT
public:
    explicit ghostRemovalWorkspace(QWidget* parent = nullptr) : mainWorkspace(parent) {
        setObjectName("ghostRemovalWorkspace");
    }
};
