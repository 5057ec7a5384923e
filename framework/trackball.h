#pragma once
// Track-ball (mouse drags to rotation, pan and dolly), view camera and the
// quaternion that turns one direction onto another.
#include "platform/math/d3dx_math.h"
#include "platform/ui/win_types.h"

class TrackBall {
public:
    TrackBall();
    void SetScreenSize(int width, int height, float radius);
    void SetPanScale(float scale) { panScale_ = scale; }
    D3DXVECTOR3 MapToSphere(int x, int y) const;
    BOOL ProcessMouseMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    const D3DXQUATERNION& Rotation() const { return current_; }
    const D3DXMATRIX& RotationMatrix() const { return rotation_; }
    const D3DXMATRIX& RotationStepMatrix() const { return rotationStep_; }
    const D3DXMATRIX& TranslationMatrix() const { return translation_; }
    const D3DXMATRIX& TranslationStepMatrix() const { return translationStep_; }
    bool Dragging() const { return dragging_ != 0; }

private:
    int width_ = 0;
    int height_ = 0;
    float radius_ = 0.0f;
    float panScale_ = 1.0f;
    D3DXQUATERNION dragStart_;
    D3DXQUATERNION current_;
    D3DXMATRIX rotation_;
    D3DXMATRIX rotationStep_;
    D3DXMATRIX translation_;
    D3DXMATRIX translationStep_;
    BOOL dragging_ = FALSE;
};

class ViewCamera {
public:
    ViewCamera();
    void SetLookAt(const D3DXVECTOR3& eye, const D3DXVECTOR3& at, const D3DXVECTOR3& up);
    void SetPerspective(float fov, float aspect, float nearPlane, float farPlane);

    D3DXVECTOR3 eye, lookAt, up, viewDirection, side;
    D3DXMATRIX view, billboard;
    float fieldOfView = 0.0f, aspect = 0.0f, nearPlane = 0.0f, farPlane = 0.0f;
    D3DXMATRIX projection;
};

// (u x v, u . v): the cross product as x, y, z and the dot product as w.
D3DXQUATERNION CrossDotQuaternion(const D3DXVECTOR3& u, const D3DXVECTOR3& v);
// The rotation carrying from onto to. Opposite directions give a half turn
// about an axis at right angles to from.
D3DXQUATERNION ArcQuaternion(const D3DXVECTOR3& from, const D3DXVECTOR3& to);
