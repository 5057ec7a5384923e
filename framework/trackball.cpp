#include "framework/trackball.h"

#include <cmath>

namespace {
// Shared by every track-ball: the sphere point where the drag started and
// the last mouse position of a pan or dolly.
D3DXVECTOR3 g_dragStartPoint(0, 0, 0);
int g_lastX = 0;
int g_lastY = 0;
}  // namespace

TrackBall::TrackBall() : dragStart_(0, 0, 0, 1), current_(0, 0, 0, 1) {
    D3DXMatrixIdentity(&rotation_);
    D3DXMatrixIdentity(&rotationStep_);
    D3DXMatrixIdentity(&translation_);
    D3DXMatrixIdentity(&translationStep_);
}

void TrackBall::SetScreenSize(int width, int height, float radius) {
    width_ = width;
    height_ = height;
    radius_ = radius;
}

D3DXVECTOR3 TrackBall::MapToSphere(int x, int y) const {
    // A window of no size or a radius of 0 maps everything to the centre.
    const float sxDiv = static_cast<float>(width_) * radius_ / 2.0f;
    const float syDiv = static_cast<float>(height_) * radius_ / 2.0f;
    const float sx = sxDiv != 0.0f ? static_cast<float>(width_ / 2 - x) / sxDiv : 0.0f;
    const float sy = syDiv != 0.0f ? static_cast<float>(y - height_ / 2) / syDiv : 0.0f;
    const float s = sx * sx + sy * sy;
    if (s > 1.0f) {
        const float r = std::sqrt(s);
        return D3DXVECTOR3(sx / r, sy / r, 0.0f);
    }
    return D3DXVECTOR3(sx, sy, std::sqrt(1.0f - s));
}

BOOL TrackBall::ProcessMouseMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam) {
    const int x = static_cast<int>(lParam & 0xFFFF);  // the low and high 16 bits, as words
    const int y = static_cast<int>((lParam >> 16) & 0xFFFF);
    switch (message) {
        case WM_LBUTTONDOWN:
            dragging_ = TRUE;
            g_dragStartPoint = MapToSphere(x, y);
            dragStart_ = current_;
            return TRUE;
        case WM_LBUTTONUP:
            dragging_ = FALSE;
            return TRUE;
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            g_lastX = x;
            g_lastY = y;
            return TRUE;
        case WM_MOUSEMOVE:
            if (wParam & MK_LBUTTON) {
                if (dragging_) {
                    const D3DXQUATERNION arc = ArcQuaternion(g_dragStartPoint, MapToSphere(x, y));
                    current_ = dragStart_;
                    D3DXQuaternionMultiply(&current_, &current_, &arc);
                    D3DXMatrixRotationQuaternion(&rotationStep_, &arc);
                } else {
                    D3DXMatrixIdentity(&rotationStep_);
                }
                D3DXMatrixRotationQuaternion(&rotation_, &current_);
                dragging_ = TRUE;
            } else if (wParam & (MK_RBUTTON | MK_MBUTTON)) {
                const float dx = width_ != 0 ? static_cast<float>(g_lastX - x) * panScale_ / static_cast<float>(width_) : 0.0f;
                const float dy = height_ != 0 ? static_cast<float>(g_lastY - y) * panScale_ / static_cast<float>(height_) : 0.0f;
                if (wParam & MK_RBUTTON) {
                    D3DXMatrixTranslation(&translationStep_, -2.0f * dx, 2.0f * dy, 0.0f);
                } else {
                    D3DXMatrixTranslation(&translationStep_, 0.0f, 0.0f, 5.0f * dy);
                }
                D3DXMatrixMultiply(&translation_, &translation_, &translationStep_);
                g_lastX = x;
                g_lastY = y;
            }
            return TRUE;
        default: return FALSE;
    }
}

ViewCamera::ViewCamera() {
    SetLookAt(D3DXVECTOR3(0, 0, 0), D3DXVECTOR3(0, 0, 1), D3DXVECTOR3(0, 1, 0));
    SetPerspective(0.7853982f, 1.0f, 1.0f, 1000.0f);
}

void ViewCamera::SetLookAt(const D3DXVECTOR3& e, const D3DXVECTOR3& at, const D3DXVECTOR3& u) {
    eye = e;
    lookAt = at;
    up = u;
    const D3DXVECTOR3 dir = at - e;
    D3DXVec3Normalize(&viewDirection, &dir);
    D3DXVec3Cross(&side, &viewDirection, &up);
    D3DXMatrixLookAtLH(&view, &eye, &lookAt, &up);
    D3DXMatrixInverse(&billboard, nullptr, &view);
    billboard._41 = 0.0f;
    billboard._42 = 0.0f;
    billboard._43 = 0.0f;
}

void ViewCamera::SetPerspective(float fov, float a, float n, float f) {
    fieldOfView = fov;
    aspect = a;
    nearPlane = n;
    farPlane = f;
    D3DXMatrixPerspectiveFovLH(&projection, fov, a, n, f);
}

D3DXQUATERNION CrossDotQuaternion(const D3DXVECTOR3& u, const D3DXVECTOR3& v) {
    D3DXVECTOR3 c;
    D3DXVec3Cross(&c, &u, &v);
    return D3DXQUATERNION(c.x, c.y, c.z, D3DXVec3Dot(&u, &v));
}

D3DXQUATERNION ArcQuaternion(const D3DXVECTOR3& from, const D3DXVECTOR3& to) {
    D3DXVECTOR3 a, b, h;
    D3DXVec3Normalize(&a, &from);
    D3DXVec3Normalize(&b, &to);
    const D3DXVECTOR3 sum = a + b;
    if (D3DXVec3Length(&sum) < 1e-6f) {
        // Opposite directions: a half turn about any axis at right angles to a.
        D3DXVECTOR3 axis;
        const D3DXVECTOR3 xAxis(1, 0, 0), yAxis(0, 1, 0);
        D3DXVec3Cross(&axis, &a, &xAxis);
        if (D3DXVec3Length(&axis) < 1e-3f) D3DXVec3Cross(&axis, &a, &yAxis);
        D3DXVec3Normalize(&axis, &axis);
        return D3DXQUATERNION(axis.x, axis.y, axis.z, 0.0f);
    }
    D3DXVec3Normalize(&h, &sum);
    return CrossDotQuaternion(a, h);
}
