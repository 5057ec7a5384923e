// Drawing calls of the GL device. The state shadow is applied to the GL
// fixed-function pipeline (compatibility profile) at draw time: render states,
// texture stages as combiners, samplers, transforms, lights, material, fog.
#include "platform/gfx/gl_device.h"

#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <GL/gl.h>
#include <SDL2/SDL.h>
#include <GL/glext.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/gfx/gl_resources.h"
#include "platform/gfx/gl_vertex_lighting.h"
#include "platform/gfx/texture_codec.h"

#ifndef GL_MODULATE_ADD_ATI
#define GL_MODULATE_ADD_ATI 0x8744
#endif
#ifndef GL_LOWER_LEFT
#define GL_LOWER_LEFT 0x8CA1
#endif
#ifndef GL_ZERO_TO_ONE
#define GL_ZERO_TO_ONE 0x935F
#endif

namespace {

float Bits(DWORD d) {
    float f;
    std::memcpy(&f, &d, sizeof(f));
    return f;
}

void ColourToFloats(D3DCOLOR c, float out[4]) {
    out[0] = ((c >> 16) & 0xFF) / 255.0f;
    out[1] = ((c >> 8) & 0xFF) / 255.0f;
    out[2] = (c & 0xFF) / 255.0f;
    out[3] = ((c >> 24) & 0xFF) / 255.0f;
}

GLenum CompareFunc(DWORD f) {
    switch (f) {
        case D3DCMP_NEVER: return GL_NEVER;
        case D3DCMP_LESS: return GL_LESS;
        case D3DCMP_EQUAL: return GL_EQUAL;
        case D3DCMP_LESSEQUAL: return GL_LEQUAL;
        case D3DCMP_GREATER: return GL_GREATER;
        case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
        case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
        default: return GL_ALWAYS;
    }
}

// The depth compare on reversed stored depth: nearer is greater.
GLenum DepthCompareFunc(DWORD f) {
    switch (f) {
        case D3DCMP_LESS: return GL_GREATER;
        case D3DCMP_LESSEQUAL: return GL_GEQUAL;
        case D3DCMP_GREATER: return GL_LESS;
        case D3DCMP_GREATEREQUAL: return GL_LEQUAL;
        default: break;
    }
    return CompareFunc(f);
}

GLenum BlendFactor(DWORD b) {
    switch (b) {
        case D3DBLEND_ZERO: return GL_ZERO;
        case D3DBLEND_ONE: return GL_ONE;
        case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
        case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
        case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
        case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
        case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
        case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
        case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
        case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
        case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
        default: return GL_ONE;
    }
}

GLenum StencilOp(DWORD o) {
    switch (o) {
        case D3DSTENCILOP_ZERO: return GL_ZERO;
        case D3DSTENCILOP_REPLACE: return GL_REPLACE;
        case D3DSTENCILOP_INCRSAT: return GL_INCR;
        case D3DSTENCILOP_DECRSAT: return GL_DECR;
        case D3DSTENCILOP_INVERT: return GL_INVERT;
        case D3DSTENCILOP_INCR: return GL_INCR_WRAP;
        case D3DSTENCILOP_DECR: return GL_DECR_WRAP;
        default: return GL_KEEP;
    }
}

GLenum Address(DWORD a) {
    switch (a) {
        case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
        case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
        case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
        case D3DTADDRESS_MIRRORONCE: return GL_MIRROR_CLAMP_TO_EDGE;
        default: return GL_REPEAT;
    }
}

// Layout of a flexible vertex format.
struct VertexLayout {
    bool valid = false;
    bool rhw = false;
    UINT size = 0;
    int normal = -1;
    int diffuse = -1;
    int specular = -1;
    int tex = -1;
    int texCount = 0;
};

VertexLayout LayoutOf(DWORD fvf) {
    VertexLayout l;
    const DWORD pos = fvf & 0x00E;
    if (pos == D3DFVF_XYZ) {
        l.size = 12;
    } else if (pos == D3DFVF_XYZRHW) {
        l.size = 16;
        l.rhw = true;
    } else {
        return l;
    }
    if (fvf & D3DFVF_NORMAL) {
        if (l.rhw) return l;
        l.normal = static_cast<int>(l.size);
        l.size += 12;
    }
    if (fvf & D3DFVF_PSIZE) l.size += 4;
    if (fvf & D3DFVF_DIFFUSE) {
        l.diffuse = static_cast<int>(l.size);
        l.size += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
        l.specular = static_cast<int>(l.size);
        l.size += 4;
    }
    l.texCount = static_cast<int>((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
    if (l.texCount > 8) return l;
    l.tex = static_cast<int>(l.size);
    l.size += static_cast<UINT>(8 * l.texCount);
    l.valid = (fvf & ~0xFFFu & 0xFFFFu) == 0;
    return l;
}

UINT VertexCount(D3DPRIMITIVETYPE type, UINT primitives, GLenum* mode) {
    switch (type) {
        case D3DPT_POINTLIST: *mode = GL_POINTS; return primitives;
        case D3DPT_LINELIST: *mode = GL_LINES; return primitives * 2;
        case D3DPT_LINESTRIP: *mode = GL_LINE_STRIP; return primitives + 1;
        case D3DPT_TRIANGLELIST: *mode = GL_TRIANGLES; return primitives * 3;
        case D3DPT_TRIANGLESTRIP: *mode = GL_TRIANGLE_STRIP; return primitives + 2;
        case D3DPT_TRIANGLEFAN: *mode = GL_TRIANGLE_FAN; return primitives + 2;
        default: return 0;
    }
}

// ---------------------------------------------------------------- textures

void UploadLevel(D3DFORMAT format, GLint level, UINT w, UINT h, const BYTE* data) {
    const GLsizei gw = static_cast<GLsizei>(w), gh = static_cast<GLsizei>(h);
    switch (format) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8:
            glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA8, gw, gh, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, data);
            return;
        case D3DFMT_A4R4G4B4:
        case D3DFMT_X4R4G4B4:
            glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA4, gw, gh, 0, GL_BGRA, GL_UNSIGNED_SHORT_4_4_4_4_REV, data);
            return;
        case D3DFMT_A1R5G5B5:
        case D3DFMT_X1R5G5B5:
            glTexImage2D(GL_TEXTURE_2D, level, GL_RGB5_A1, gw, gh, 0, GL_BGRA, GL_UNSIGNED_SHORT_1_5_5_5_REV, data);
            return;
        case D3DFMT_R5G6B5:
            glTexImage2D(GL_TEXTURE_2D, level, GL_RGB8, gw, gh, 0, GL_RGB, GL_UNSIGNED_SHORT_5_6_5, data);
            return;
        default: {
            // Block formats and the rest: decoded in software.
            std::vector<std::uint32_t> argb;
            if (!DecodeLevel(format, w, h, data, FormatPitch(format, w), &argb)) argb.assign(static_cast<size_t>(w) * h, 0);
            glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA8, gw, gh, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, argb.data());
            return;
        }
    }
}

// Creates or refreshes the GL copy of a texture; leaves it bound (bound: the
// unit's texture as last bound, updated).
void PrepareTexture(GlTexture* t, unsigned* bound) {
    bool fresh = false;
    if (t->glName == 0) {
        GLuint name = 0;
        glGenTextures(1, &name);
        t->glName = name;
        fresh = true;
    }
    const DWORD levels = t->GetLevelCount();
    bool any = fresh;
    for (DWORD i = 0; i < levels && !any; ++i) any = t->Level(i)->dirty;
    if (t->glName != *bound || any) glBindTexture(GL_TEXTURE_2D, t->glName);
    *bound = t->glName;
    if (!any) return;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    for (DWORD i = 0; i < levels; ++i) {
        GlMemorySurface* s = t->Level(i);
        if (!fresh && !s->dirty) continue;
        UploadLevel(t->Format(), static_cast<GLint>(i), s->Width(), s->Height(), s->Bytes().data());
        s->dirty = false;
    }
    if (fresh) {
        // Exactly the levels that exist, so GL never sees an incomplete texture.
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(levels) - 1);
        const D3DFORMAT f = t->Format();
        const bool opaque = f == D3DFMT_X8R8G8B8 || f == D3DFMT_X4R4G4B4 || f == D3DFMT_X1R5G5B5 || f == D3DFMT_R5G6B5;
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, opaque ? GL_ONE : GL_ALPHA);
    }
}

// ---------------------------------------------------------------- combiners

struct CombineSource {
    GLenum source;
    GLenum operand;
};

GLenum ArgSource(DWORD arg) {
    switch (arg & D3DTA_SELECTMASK) {
        case D3DTA_DIFFUSE: return GL_PRIMARY_COLOR;
        case D3DTA_TEXTURE: return GL_TEXTURE;
        case D3DTA_TFACTOR: return GL_CONSTANT;
        case D3DTA_SPECULAR: return GL_PRIMARY_COLOR;
        default: return GL_PREVIOUS;  // CURRENT, TEMP
    }
}

CombineSource Arg(DWORD arg, bool alpha) {
    const bool complement = (arg & D3DTA_COMPLEMENT) != 0;
    const bool replicate = alpha || (arg & D3DTA_ALPHAREPLICATE) != 0;
    GLenum operand = replicate ? (complement ? GL_ONE_MINUS_SRC_ALPHA : GL_SRC_ALPHA)
                               : (complement ? GL_ONE_MINUS_SRC_COLOR : GL_SRC_COLOR);
    return {ArgSource(arg), operand};
}

CombineSource Complemented(CombineSource s, bool alpha) {
    if (alpha) return {s.source, s.operand == GL_SRC_ALPHA ? GLenum(GL_ONE_MINUS_SRC_ALPHA) : GLenum(GL_SRC_ALPHA)};
    switch (s.operand) {
        case GL_SRC_COLOR: return {s.source, GL_ONE_MINUS_SRC_COLOR};
        case GL_ONE_MINUS_SRC_COLOR: return {s.source, GL_SRC_COLOR};
        case GL_SRC_ALPHA: return {s.source, GL_ONE_MINUS_SRC_ALPHA};
        default: return {s.source, GL_SRC_ALPHA};
    }
}

// One half (colour or alpha) of a stage as a GL combiner.
// Texture-environment values as last given to GL for one unit (GlDrawState's
// envCache); a value goes to GL only when it differs, since every change costs
// the renderer a state update.
using EnvCache = int;

void EnvI(EnvCache* cache, int slot, GLenum pname, GLint value) {
    if (cache[slot] == value) return;
    cache[slot] = value;
    glTexEnvi(GL_TEXTURE_ENV, pname, value);
}

void EnvF(EnvCache* cache, int slot, GLenum pname, float value) {
    GLint bits;
    std::memcpy(&bits, &value, sizeof(bits));
    if (cache[slot] == bits) return;
    cache[slot] = bits;
    glTexEnvf(GL_TEXTURE_ENV, pname, value);
}

void SetupCombiner(EnvCache* cache, bool alpha, DWORD op, DWORD a0, DWORD a1, DWORD a2) {
    const GLenum combine = alpha ? GL_COMBINE_ALPHA : GL_COMBINE_RGB;
    const GLenum srcName[3] = {alpha ? GLenum(GL_SRC0_ALPHA) : GLenum(GL_SRC0_RGB), alpha ? GLenum(GL_SRC1_ALPHA) : GLenum(GL_SRC1_RGB),
                               alpha ? GLenum(GL_SRC2_ALPHA) : GLenum(GL_SRC2_RGB)};
    const GLenum opName[3] = {alpha ? GLenum(GL_OPERAND0_ALPHA) : GLenum(GL_OPERAND0_RGB),
                              alpha ? GLenum(GL_OPERAND1_ALPHA) : GLenum(GL_OPERAND1_RGB),
                              alpha ? GLenum(GL_OPERAND2_ALPHA) : GLenum(GL_OPERAND2_RGB)};
    const GLenum scaleName = alpha ? GL_ALPHA_SCALE : GL_RGB_SCALE;
    const CombineSource arg0 = Arg(a0, alpha), arg1 = Arg(a1, alpha), arg2 = Arg(a2, alpha);
    const CombineSource prev{GL_PREVIOUS, alpha ? GLenum(GL_SRC_ALPHA) : GLenum(GL_SRC_COLOR)};
    GLenum mode = GL_MODULATE;
    CombineSource s[3] = {arg1, arg2, prev};
    float scale = 1.0f;
    auto alphaOf = [](GLenum src) { return CombineSource{src, GL_SRC_ALPHA}; };
    switch (op) {
        case D3DTOP_SELECTARG1: mode = GL_REPLACE; s[0] = arg1; break;
        case D3DTOP_SELECTARG2: mode = GL_REPLACE; s[0] = arg2; break;
        case D3DTOP_MODULATE: break;
        case D3DTOP_MODULATE2X: scale = 2.0f; break;
        case D3DTOP_MODULATE4X: scale = 4.0f; break;
        case D3DTOP_ADD: mode = GL_ADD; break;
        case D3DTOP_ADDSIGNED: mode = GL_ADD_SIGNED; break;
        case D3DTOP_ADDSIGNED2X: mode = GL_ADD_SIGNED; scale = 2.0f; break;
        case D3DTOP_SUBTRACT: mode = GL_SUBTRACT; break;
        case D3DTOP_ADDSMOOTH:  // arg1 + arg2 - arg1 arg2 = arg2 (1 - arg1) + arg1
            mode = GL_MODULATE_ADD_ATI;
            s[0] = arg2;
            s[1] = arg1;
            s[2] = Complemented(arg1, alpha);
            break;
        case D3DTOP_BLENDDIFFUSEALPHA: mode = GL_INTERPOLATE; s[2] = alphaOf(GL_PRIMARY_COLOR); break;
        case D3DTOP_BLENDTEXTUREALPHA: mode = GL_INTERPOLATE; s[2] = alphaOf(GL_TEXTURE); break;
        case D3DTOP_BLENDFACTORALPHA: mode = GL_INTERPOLATE; s[2] = alphaOf(GL_CONSTANT); break;
        case D3DTOP_BLENDCURRENTALPHA: mode = GL_INTERPOLATE; s[2] = alphaOf(GL_PREVIOUS); break;
        case D3DTOP_BLENDTEXTUREALPHAPM:  // arg1 + arg2 (1 - texture alpha)
            mode = GL_MODULATE_ADD_ATI;
            s[0] = arg2;
            s[1] = arg1;
            s[2] = {GL_TEXTURE, GL_ONE_MINUS_SRC_ALPHA};
            break;
        case D3DTOP_MODULATEALPHA_ADDCOLOR:  // arg1 + arg1.alpha arg2
            mode = GL_MODULATE_ADD_ATI;
            s[0] = {arg1.source, GL_SRC_ALPHA};
            s[1] = arg1;
            s[2] = arg2;
            break;
        case D3DTOP_MULTIPLYADD:  // arg0 + arg1 arg2
            mode = GL_MODULATE_ADD_ATI;
            s[0] = arg1;
            s[1] = arg0;
            s[2] = arg2;
            break;
        case D3DTOP_LERP:  // arg0 arg1 + (1 - arg0) arg2
            mode = GL_INTERPOLATE;
            s[0] = arg1;
            s[1] = arg2;
            s[2] = arg0;
            break;
        case D3DTOP_DOTPRODUCT3:
            mode = alpha ? GL_MODULATE : GL_DOT3_RGBA;
            break;
        case D3DTOP_DISABLE:  // alpha half only: pass the current alpha on
            mode = GL_REPLACE;
            s[0] = prev;
            break;
        default: break;
    }
    const int base = alpha ? 9 : 1;  // slots: mode, 3 sources, 3 operands, scale
    EnvI(cache, base, combine, static_cast<GLint>(mode));
    for (int i = 0; i < 3; ++i) {
        EnvI(cache, base + 1 + i, srcName[i], static_cast<GLint>(s[i].source));
        GLenum operand = s[i].operand;
        if (alpha && operand != GL_SRC_ALPHA && operand != GL_ONE_MINUS_SRC_ALPHA) {
            operand = (operand == GL_ONE_MINUS_SRC_COLOR) ? GL_ONE_MINUS_SRC_ALPHA : GL_SRC_ALPHA;
        }
        EnvI(cache, base + 4 + i, opName[i], static_cast<GLint>(operand));
    }
    EnvF(cache, base + 7, scaleName, scale);
}

// Number of active stages: up to the first whose colour operation is DISABLE.
int ActiveStages(const GlDrawState& d, int units) {
    int n = 0;
    while (n < units && d.stageStates[static_cast<size_t>(n)][D3DTSS_COLOROP] != D3DTOP_DISABLE) ++n;
    return n;
}

void ApplySampler(GLuint sampler, const std::array<DWORD, kTextureStageStateCount>& st) {
    const DWORD mag = st[D3DTSS_MAGFILTER], min = st[D3DTSS_MINFILTER], mip = st[D3DTSS_MIPFILTER];
    const bool minLinear = min >= D3DTEXF_LINEAR;
    GLenum minFilter;
    if (mip == D3DTEXF_NONE) {
        minFilter = minLinear ? GL_LINEAR : GL_NEAREST;
    } else if (mip == D3DTEXF_POINT) {
        minFilter = minLinear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    } else {
        minFilter = minLinear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    }
    glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, static_cast<GLint>(minFilter));
    glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, mag >= D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST);
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, static_cast<GLint>(Address(st[D3DTSS_ADDRESSU])));
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, static_cast<GLint>(Address(st[D3DTSS_ADDRESSV])));
    float border[4];
    ColourToFloats(st[D3DTSS_BORDERCOLOR], border);
    glSamplerParameterfv(sampler, GL_TEXTURE_BORDER_COLOR, border);
    glSamplerParameterf(sampler, GL_TEXTURE_LOD_BIAS, Bits(st[D3DTSS_MIPMAPLODBIAS]));
}

void ApplyRenderStates(const GlDrawState& d, bool depthStencil) {
    const auto& rs = d.renderStates;
    const DWORD z = rs[D3DRS_ZENABLE];
    if (depthStencil && z != D3DZB_FALSE) {  // the W-buffer value counts as on
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(DepthCompareFunc(rs[D3DRS_ZFUNC]));
    } else {
        glDisable(GL_DEPTH_TEST);
    }
    glDepthMask(rs[D3DRS_ZWRITEENABLE] ? GL_TRUE : GL_FALSE);
    if (depthStencil && rs[D3DRS_STENCILENABLE]) {
        glEnable(GL_STENCIL_TEST);
        glStencilFunc(CompareFunc(rs[D3DRS_STENCILFUNC]), static_cast<GLint>(rs[D3DRS_STENCILREF] & 0xFF),
                      rs[D3DRS_STENCILMASK]);
        glStencilOp(StencilOp(rs[D3DRS_STENCILFAIL]), StencilOp(rs[D3DRS_STENCILZFAIL]),
                    StencilOp(rs[D3DRS_STENCILPASS]));
        glStencilMask(rs[D3DRS_STENCILWRITEMASK]);
    } else {
        glDisable(GL_STENCIL_TEST);
    }
    if (rs[D3DRS_ALPHATESTENABLE]) {
        glEnable(GL_ALPHA_TEST);
        glAlphaFunc(CompareFunc(rs[D3DRS_ALPHAFUNC]), static_cast<GLfloat>(rs[D3DRS_ALPHAREF] & 0xFF) / 255.0f);
    } else {
        glDisable(GL_ALPHA_TEST);
    }
    if (rs[D3DRS_ALPHABLENDENABLE]) {
        glEnable(GL_BLEND);
        GLenum src = BlendFactor(rs[D3DRS_SRCBLEND]), dst = BlendFactor(rs[D3DRS_DESTBLEND]);
        if (rs[D3DRS_SRCBLEND] == D3DBLEND_BOTHSRCALPHA) {
            src = GL_SRC_ALPHA;
            dst = GL_ONE_MINUS_SRC_ALPHA;
        } else if (rs[D3DRS_SRCBLEND] == D3DBLEND_BOTHINVSRCALPHA) {
            src = GL_ONE_MINUS_SRC_ALPHA;
            dst = GL_SRC_ALPHA;
        }
        glBlendFunc(src, dst);
        GLenum eq = GL_FUNC_ADD;
        switch (rs[D3DRS_BLENDOP]) {
            case D3DBLENDOP_SUBTRACT: eq = GL_FUNC_SUBTRACT; break;
            case D3DBLENDOP_REVSUBTRACT: eq = GL_FUNC_REVERSE_SUBTRACT; break;
            case D3DBLENDOP_MIN: eq = GL_MIN; break;
            case D3DBLENDOP_MAX: eq = GL_MAX; break;
            default: break;
        }
        glBlendEquation(eq);
    } else {
        glDisable(GL_BLEND);
    }
    // The platform's front faces are clockwise; CCW culls counter-clockwise ones.
    switch (rs[D3DRS_CULLMODE]) {
        case D3DCULL_NONE: glDisable(GL_CULL_FACE); break;
        case D3DCULL_CW:
            glEnable(GL_CULL_FACE);
            glFrontFace(GL_CCW);
            glCullFace(GL_BACK);
            break;
        default:
            glEnable(GL_CULL_FACE);
            glFrontFace(GL_CW);
            glCullFace(GL_BACK);
            break;
    }
    const DWORD fill = rs[D3DRS_FILLMODE];
    glPolygonMode(GL_FRONT_AND_BACK, fill == D3DFILL_POINT ? GL_POINT : fill == D3DFILL_WIREFRAME ? GL_LINE : GL_FILL);
    glShadeModel(rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT ? GL_FLAT : GL_SMOOTH);
    const DWORD cw = rs[D3DRS_COLORWRITEENABLE];
    glColorMask((cw & 1) ? GL_TRUE : GL_FALSE, (cw & 2) ? GL_TRUE : GL_FALSE, (cw & 4) ? GL_TRUE : GL_FALSE,
                (cw & 8) ? GL_TRUE : GL_FALSE);
    if (rs[D3DRS_DITHERENABLE]) glEnable(GL_DITHER); else glDisable(GL_DITHER);
    glPointSize(std::max(1.0f, Bits(rs[D3DRS_POINTSIZE])));
    const float bias = static_cast<float>(rs[D3DRS_ZBIAS] & 0xF);
    if (bias > 0) {  // toward the viewer: up in reversed depth
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(0.0f, bias);
    } else {
        glDisable(GL_POLYGON_OFFSET_FILL);
    }
}

void LoadMatrix(const D3DMATRIX& m) { glLoadMatrixf(&m._11); }

// The projection with its depth column turned into w - z, so the stored depth
// is 1 - the platform's. Worked in double: for a far plane far beyond the
// near one the two columns differ in the last bits only. Without clip control
// GL takes -w..w, so the column becomes 2 (w - z) - w = w - 2 z.
D3DMATRIX ReversedDepthProjection(const D3DMATRIX& p, bool clipControl) {
    D3DMATRIX r = p;
    const double k = clipControl ? 1.0 : 2.0;
    r._13 = static_cast<float>(static_cast<double>(p._14) - k * p._13);
    r._23 = static_cast<float>(static_cast<double>(p._24) - k * p._23);
    r._33 = static_cast<float>(static_cast<double>(p._34) - k * p._33);
    r._43 = static_cast<float>(static_cast<double>(p._44) - k * p._43);
    return r;
}

D3DMATRIX TransformOf(const GlDrawState& d, int which) {
    auto it = d.transforms.find(which);
    if (it != d.transforms.end()) return it->second;
    D3DMATRIX m;
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

// Point and spot lights light nothing beyond their range. GL has no range:
// a light that no vertex of the draw lies within is left out of the draw.
std::uint32_t LightsOutOfRange(const GlDrawState& d, const D3DMATRIX& world, const BYTE* base, UINT count,
                               UINT stride) {
    std::uint32_t out = 0;
    int k = 0;
    for (const auto& [index, l] : d.lights) {
        if (!l.enabled || !l.set) continue;
        const int bit = k++;
        const D3DLIGHT8& L = l.light;
        if (L.Type == D3DLIGHT_DIRECTIONAL || bit >= 32) continue;
        const float range2 = L.Range * L.Range;
        bool reached = false;
        for (UINT i = 0; i < count && !reached; ++i) {
            float p[3];
            std::memcpy(p, base + static_cast<size_t>(i) * stride, sizeof(p));
            const float x = p[0] * world._11 + p[1] * world._21 + p[2] * world._31 + world._41 - L.Position.x;
            const float y = p[0] * world._12 + p[1] * world._22 + p[2] * world._32 + world._42 - L.Position.y;
            const float z = p[0] * world._13 + p[1] * world._23 + p[2] * world._33 + world._43 - L.Position.z;
            reached = x * x + y * y + z * z <= range2;
        }
        if (!reached) out |= 1u << bit;
    }
    return out;
}

void ApplyLights(const GlDrawState& d, int maxLights) {
    glMatrixMode(GL_MODELVIEW);
    LoadMatrix(TransformOf(d, D3DTS_VIEW));  // lights are given in world space
    int slot = 0, k = 0;
    for (const auto& [index, l] : d.lights) {
        if (!l.enabled || !l.set) continue;
        const bool outOfRange = k < 32 && ((d.lightsOutOfRange >> k) & 1u) != 0;
        ++k;
        if (outOfRange || slot >= maxLights) continue;
        const GLenum gl = GL_LIGHT0 + static_cast<GLenum>(slot++);
        const D3DLIGHT8& L = l.light;
        glEnable(gl);
        const float diffuse[4] = {L.Diffuse.r, L.Diffuse.g, L.Diffuse.b, L.Diffuse.a};
        const float specular[4] = {L.Specular.r, L.Specular.g, L.Specular.b, L.Specular.a};
        const float ambient[4] = {L.Ambient.r, L.Ambient.g, L.Ambient.b, L.Ambient.a};
        glLightfv(gl, GL_DIFFUSE, diffuse);
        glLightfv(gl, GL_SPECULAR, specular);
        glLightfv(gl, GL_AMBIENT, ambient);
        if (L.Type == D3DLIGHT_DIRECTIONAL) {
            // The direction is where the light travels; GL wants where it comes from.
            const float pos[4] = {-L.Direction.x, -L.Direction.y, -L.Direction.z, 0.0f};
            glLightfv(gl, GL_POSITION, pos);
            glLightf(gl, GL_SPOT_CUTOFF, 180.0f);
            glLightf(gl, GL_CONSTANT_ATTENUATION, 1.0f);
            glLightf(gl, GL_LINEAR_ATTENUATION, 0.0f);
            glLightf(gl, GL_QUADRATIC_ATTENUATION, 0.0f);
        } else {
            const float pos[4] = {L.Position.x, L.Position.y, L.Position.z, 1.0f};
            glLightfv(gl, GL_POSITION, pos);
            float a0 = L.Attenuation0, a1 = L.Attenuation1, a2 = L.Attenuation2;
            if (a0 == 0.0f && a1 == 0.0f && a2 == 0.0f) a0 = 1.0f;
            glLightf(gl, GL_CONSTANT_ATTENUATION, a0);
            glLightf(gl, GL_LINEAR_ATTENUATION, a1);
            glLightf(gl, GL_QUADRATIC_ATTENUATION, a2);
            if (L.Type == D3DLIGHT_SPOT) {
                const float dir[3] = {L.Direction.x, L.Direction.y, L.Direction.z};
                glLightfv(gl, GL_SPOT_DIRECTION, dir);
                // Only cones without a falloff band come here: full light inside phi/2.
                glLightf(gl, GL_SPOT_CUTOFF, std::clamp(L.Phi * 0.5f * 57.29578f, 0.0f, 90.0f));
                glLightf(gl, GL_SPOT_EXPONENT, 0.0f);
            } else {
                glLightf(gl, GL_SPOT_CUTOFF, 180.0f);
            }
        }
    }
    for (; slot < maxLights; ++slot) glDisable(GL_LIGHT0 + static_cast<GLenum>(slot));
}

void ApplyMaterial(const GlDrawState& d) {
    const D3DMATERIAL8& m = d.material;
    const float diffuse[4] = {m.Diffuse.r, m.Diffuse.g, m.Diffuse.b, m.Diffuse.a};
    const float ambient[4] = {m.Ambient.r, m.Ambient.g, m.Ambient.b, m.Ambient.a};
    const float emissive[4] = {m.Emissive.r, m.Emissive.g, m.Emissive.b, m.Emissive.a};
    const bool specularOn = d.renderStates[D3DRS_SPECULARENABLE] != 0;
    const float specular[4] = {specularOn ? m.Specular.r : 0.0f, specularOn ? m.Specular.g : 0.0f,
                               specularOn ? m.Specular.b : 0.0f, specularOn ? m.Specular.a : 0.0f};
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, emissive);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, specular);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, std::clamp(m.Power, 0.0f, 128.0f));
    float global[4];
    ColourToFloats(d.renderStates[D3DRS_AMBIENT], global);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, global);
    glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, specularOn ? GL_SEPARATE_SPECULAR_COLOR : GL_SINGLE_COLOR);
}

// GL switches and client arrays go to GL only when they change: every call,
// even one that repeats the current value, costs the renderer a state check.
void SetCap(GLenum cap, int* applied, bool on) {
    if (*applied == static_cast<int>(on)) return;
    *applied = on ? 1 : 0;
    if (on) glEnable(cap); else glDisable(cap);
}

// Switches a client array on or off; true when it has just gone off, so that
// the caller gives the attribute's constant value (an array in use leaves the
// current value undefined).
bool SwitchArray(GlArrayState* a, GLenum array, bool on) {
    if (a->on == static_cast<int>(on)) return false;
    a->on = on ? 1 : 0;
    if (on) glEnableClientState(array); else glDisableClientState(array);
    return !on;
}

// True when the array already points there in that shape; else records it.
bool SameArray(GlArrayState* a, int size, GLenum type, GLsizei stride, const void* pointer) {
    if (a->size == size && a->type == type && a->stride == stride && a->pointer == pointer) return true;
    a->size = size;
    a->type = type;
    a->stride = stride;
    a->pointer = pointer;
    return false;
}

void SelectUnit(GlDrawState& d, int unit) {
    if (d.activeUnit == unit) return;
    d.activeUnit = unit;
    glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
}

void SelectClientUnit(GlDrawState& d, int unit) {
    if (d.clientUnit == unit) return;
    d.clientUnit = unit;
    glClientActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
}

bool InitGl(GlDrawState& d) {
    if (d.glReady) return true;
    glGenSamplers(kMaxTextureStages, d.samplers);
    GLuint white = 0;
    glGenTextures(1, &white);
    glBindTexture(GL_TEXTURE_2D, white);
    const std::uint32_t texel = 0xFFFFFFFFu;
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, &texel);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    d.whiteTexture = white;
    for (auto& unit : d.envCache) {
        for (int& v : unit) v = -1;
    }
    GLint major = 0, minor = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    d.glClipControl = major > 4 || (major == 4 && minor >= 5);
    if (d.glClipControl) glClipControl(GL_LOWER_LEFT, GL_ZERO_TO_ONE);
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
    glHint(GL_FOG_HINT, GL_NICEST);
    glGetError();
    d.glReady = true;
    return true;
}

}  // namespace

HRESULT GlDevice::DrawVertices(D3DPRIMITIVETYPE type, UINT primitiveCount, const BYTE* base, UINT stride,
                               UINT available) {
    GLenum mode = GL_TRIANGLES;
    const UINT count = VertexCount(type, primitiveCount, &mode);
    if (count == 0 && primitiveCount != 0) return D3DERR_INVALIDCALL;
    const VertexLayout layout = LayoutOf(draw_.vertexShader);
    if (!layout.valid || stride < layout.size) return D3DERR_INVALIDCALL;
    if (primitiveCount == 0) return D3D_OK;
    // Every vertex read must lie inside the buffer.
    const std::uint64_t needed = static_cast<std::uint64_t>(count - 1) * stride + layout.size;
    if (needed > available) return D3DERR_INVALIDCALL;
    // Making the context current again is skipped while it still is.
    const void* egl = eglGetCurrentContext();
    const void* sdl = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GL_GetCurrentContext() : nullptr;
    if (!draw_.glReady || egl != draw_.currentEgl || sdl != draw_.currentSdl) {
        if (!MakeCurrent()) return D3DERR_DEVICELOST;
        draw_.currentEgl = eglGetCurrentContext();
        draw_.currentSdl = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GL_GetCurrentContext() : nullptr;
    }
    InitGl(draw_);
    GlDrawState& d = draw_;
    const auto& rs = d.renderStates;
    static GLint maxUnits = 0, maxLights = 0;
    if (maxUnits == 0) {
        glGetIntegerv(GL_MAX_TEXTURE_UNITS, &maxUnits);
        glGetIntegerv(GL_MAX_LIGHTS, &maxLights);
        maxUnits = std::clamp(maxUnits, 1, kMaxTextureStages);
        maxLights = std::clamp(maxLights, 1, 8);
    }
    const bool pre = layout.rhw;
    if (pre != lastPretransformed_) {
        d.dirty |= kDirtyTransforms | kDirtyRender | kDirtyLights;
        lastPretransformed_ = pre;
    }

    // Viewport.
    D3DVIEWPORT8 vp{};
    GetViewport(&vp);
    const bool viewportChanged = std::memcmp(&vp, &d.appliedViewport, sizeof(vp)) != 0 ||
                                 d.appliedHeight != BackBufferHeight() || !d.viewportApplied;
    if (viewportChanged || pre != d.appliedPre) {
        glViewport(static_cast<GLint>(vp.X),
                   static_cast<GLint>(BackBufferHeight()) - static_cast<GLint>(vp.Y + vp.Height),
                   static_cast<GLsizei>(vp.Width), static_cast<GLsizei>(vp.Height));
        if (pre) {
            glDepthRange(0.0, 1.0);
        } else {
            glDepthRange(StoredDepth(vp.MaxZ), StoredDepth(vp.MinZ));
        }
        d.appliedViewport = vp;
        d.appliedHeight = BackBufferHeight();
        d.appliedPre = pre;
        d.viewportApplied = true;
        if (pre) d.dirty |= kDirtyTransforms;  // the screen matrix follows the viewport
    }

    if (d.dirty & kDirtyRender) ApplyRenderStates(d, HasDepthStencil());

    // Texture stages.
    const int active = ActiveStages(d, maxUnits);
    // Units past both this draw's and the last draw's stages are already off.
    const int touched = d.unitsKnown ? std::max(active, d.enabledUnits) : maxUnits;
    for (int i = 0; i < touched; ++i) {
        if (i >= active) {
            if (d.unitState[i] != 0) {
                SelectUnit(d, i);
                glDisable(GL_TEXTURE_2D);
            }
            d.unitState[i] = 0;
            continue;
        }
        SelectUnit(d, i);
        if (d.unitState[i] != 1) glEnable(GL_TEXTURE_2D);
        d.unitState[i] = 1;
        auto* texture = dynamic_cast<GlTexture*>(d.textures[static_cast<size_t>(i)]);
        unsigned name = d.whiteTexture;  // no texture reads as opaque white
        if (texture && texture->GetType() == D3DRTYPE_TEXTURE) {
            PrepareTexture(texture, &d.boundTexture[i]);
            name = texture->glName;
        } else if (d.boundTexture[i] != name) {
            glBindTexture(GL_TEXTURE_2D, name);
        }
        d.boundTexture[i] = name;
        if (!d.samplerBound[i]) glBindSampler(static_cast<GLuint>(i), d.samplers[i]);
        d.samplerBound[i] = true;
        const auto& st = d.stageStates[static_cast<size_t>(i)];
        if ((d.dirty & kDirtyStages) &&
            (!d.stageApplied[i] || st != d.appliedStages[static_cast<size_t>(i)] ||
             d.appliedFactor[i] != rs[D3DRS_TEXTUREFACTOR])) {
            // Only a stage whose settings changed goes to GL again.
            const auto& before = d.appliedStages[static_cast<size_t>(i)];
            bool samplerChanged = !d.stageApplied[i];
            for (int k : {D3DTSS_MAGFILTER, D3DTSS_MINFILTER, D3DTSS_MIPFILTER, D3DTSS_ADDRESSU, D3DTSS_ADDRESSV,
                          D3DTSS_BORDERCOLOR, D3DTSS_MIPMAPLODBIAS}) {
                samplerChanged = samplerChanged || before[static_cast<size_t>(k)] != st[static_cast<size_t>(k)];
            }
            if (samplerChanged) ApplySampler(d.samplers[i], st);
            d.appliedStages[static_cast<size_t>(i)] = st;
            d.appliedFactor[i] = rs[D3DRS_TEXTUREFACTOR];
            d.stageApplied[i] = true;
            EnvCache* cache = d.envCache[i];
            EnvI(cache, 0, GL_TEXTURE_ENV_MODE, GL_COMBINE);
            SetupCombiner(cache, false, st[D3DTSS_COLOROP], st[D3DTSS_COLORARG0], st[D3DTSS_COLORARG1],
                          st[D3DTSS_COLORARG2]);
            SetupCombiner(cache, true, st[D3DTSS_ALPHAOP], st[D3DTSS_ALPHAARG0], st[D3DTSS_ALPHAARG1],
                          st[D3DTSS_ALPHAARG2]);
            if (cache[17] != static_cast<int>(rs[D3DRS_TEXTUREFACTOR]) || cache[0] == -1 || !d.envColourSet[i]) {
                float factor[4];
                ColourToFloats(rs[D3DRS_TEXTUREFACTOR], factor);
                glTexEnvfv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_COLOR, factor);
                cache[17] = static_cast<int>(rs[D3DRS_TEXTUREFACTOR]);
                d.envColourSet[i] = true;
            }
        }
    }

    // Transforms, lights, fog.
    const bool lighting = !pre && rs[D3DRS_LIGHTING];
    // Lit by GL, or by the device itself where GL cannot express a light.
    bool vertexLit = false;
    const bool fogVertex = !pre && rs[D3DRS_FOGENABLE] && rs[D3DRS_FOGTABLEMODE] == D3DFOG_NONE &&
                           rs[D3DRS_FOGVERTEXMODE] != D3DFOG_NONE;
    const bool fogTable = !pre && rs[D3DRS_FOGENABLE] && rs[D3DRS_FOGTABLEMODE] != D3DFOG_NONE;
    // World and view serve transformed vertices only.
    const D3DMATRIX world = pre ? D3DMATRIX{} : TransformOf(d, D3DTS_WORLD);
    const D3DMATRIX view = pre ? D3DMATRIX{} : TransformOf(d, D3DTS_VIEW);
    bool materialPending = (d.dirty & kDirtyMaterial) != 0;
    if (pre) {
        if (d.dirty & (kDirtyTransforms | kDirtyRender)) {
            // Screen pixels to clip space; the platform's pixel centres lie on integers.
            const float w = static_cast<float>(vp.Width), h = static_cast<float>(vp.Height);
            // Depth z to the stored 1 - z (twice that minus 1 without clip control).
            const float m[16] = {2.0f / w, 0, 0, 0, 0, -2.0f / h, 0, 0, 0, 0, d.glClipControl ? -1.0f : -2.0f, 0,
                                 (0.5f - static_cast<float>(vp.X)) * 2.0f / w - 1.0f,
                                 1.0f - (0.5f - static_cast<float>(vp.Y)) * 2.0f / h, 1, 1};
            glMatrixMode(GL_PROJECTION);
            glLoadMatrixf(m);
            glMatrixMode(GL_MODELVIEW);
            glLoadIdentity();
        }
        SetCap(GL_LIGHTING, &d.capLighting, false);
        SetCap(GL_FOG, &d.capFog, false);
        SetCap(GL_NORMALIZE, &d.capNormalize, false);
    } else {
        if (lighting) {
            const std::uint32_t out = LightsOutOfRange(d, world, base, count, stride);
            if (out != d.lightsOutOfRange) {
                d.lightsOutOfRange = out;
                d.dirty |= kDirtyLights;
            }
        }
        vertexLit = lighting && NeedsVertexLighting(d);
        // Lights are given in world space: only a new view or new lights re-specify them.
        if (d.dirty & kDirtyLights) ApplyLights(d, maxLights);
        if (d.dirty & (kDirtyTransforms | kDirtyLights)) {
            glMatrixMode(GL_PROJECTION);
            const D3DMATRIX projection = ReversedDepthProjection(TransformOf(d, D3DTS_PROJECTION), d.glClipControl);
            glLoadMatrixf(&projection._11);
            glMatrixMode(GL_MODELVIEW);
            LoadMatrix(view);
            glMultMatrixf(&world._11);  // modelview = world x view
        }
        const bool glLit = lighting && !vertexLit;
        SetCap(GL_LIGHTING, &d.capLighting, glLit);
        if (glLit && (d.dirty & kDirtyMaterial)) {
            // GL ignores material colours that track the vertex colour: stop the
            // tracking of the last draw before the material goes in.
            SetCap(GL_COLOR_MATERIAL, &d.capColourMaterial, false);
            ApplyMaterial(d);
            materialPending = false;
        }
        SetCap(GL_NORMALIZE, &d.capNormalize, rs[D3DRS_NORMALIZENORMALS] != 0);
        if (d.dirty & kDirtyRender) {
            glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, rs[D3DRS_LOCALVIEWER] ? GL_TRUE : GL_FALSE);
        }
        SetCap(GL_FOG, &d.capFog, fogVertex || fogTable);
        if ((fogVertex || fogTable) && (d.dirty & kDirtyRender)) {
            float colour[4];
            ColourToFloats(rs[D3DRS_FOGCOLOR], colour);
            glFogfv(GL_FOG_COLOR, colour);
            if (fogTable) {
                const DWORD fogMode = rs[D3DRS_FOGTABLEMODE];
                glFogi(GL_FOG_MODE, fogMode == D3DFOG_EXP ? GL_EXP : fogMode == D3DFOG_EXP2 ? GL_EXP2 : GL_LINEAR);
                glFogf(GL_FOG_START, Bits(rs[D3DRS_FOGSTART]));
                glFogf(GL_FOG_END, Bits(rs[D3DRS_FOGEND]));
                glFogf(GL_FOG_DENSITY, Bits(rs[D3DRS_FOGDENSITY]));
                glFogi(GL_FOG_COORD_SRC, GL_FRAGMENT_DEPTH);
            } else {
                // The coordinate is the vertex's own fog factor: linear from 1 to 0 passes it on.
                glFogi(GL_FOG_MODE, GL_LINEAR);
                glFogf(GL_FOG_START, 1.0f);
                glFogf(GL_FOG_END, 0.0f);
                glFogi(GL_FOG_COORD_SRC, GL_FOG_COORD);
            }
        }
    }
    // A material not yet given to GL waits for the next lit draw.
    d.dirty = materialPending ? std::uint32_t{kDirtyMaterial} : 0u;

    // Vertex arrays straight from the vertex memory.
    const BYTE* first = base;
    size_t scratchFloats = 0;
    if (pre) scratchFloats += static_cast<size_t>(count) * 4;
    if (fogVertex) scratchFloats += count;
    if (d.scratch.size() < scratchFloats) d.scratch.resize(scratchFloats);
    float* scratch = d.scratch.data();
    if (pre) {
        // (x, y, z) w with w = 1 / rhw, so texturing stays perspective-correct.
        for (UINT i = 0; i < count; ++i) {
            float v[4];
            std::memcpy(v, first + static_cast<size_t>(i) * stride, sizeof(v));
            const float w = v[3] != 0.0f ? 1.0f / v[3] : 1.0f;
            scratch[4 * i] = v[0] * w;
            scratch[4 * i + 1] = v[1] * w;
            scratch[4 * i + 2] = v[2] * w;
            scratch[4 * i + 3] = w;
        }
    }
    SwitchArray(&d.vertexArray, GL_VERTEX_ARRAY, true);
    if (pre) {
        if (!SameArray(&d.vertexArray, 4, GL_FLOAT, 0, scratch)) glVertexPointer(4, GL_FLOAT, 0, scratch);
    } else if (!SameArray(&d.vertexArray, 3, GL_FLOAT, static_cast<GLsizei>(stride), first)) {
        glVertexPointer(3, GL_FLOAT, static_cast<GLsizei>(stride), first);
    }
    if (layout.normal >= 0) {
        SwitchArray(&d.normalArray, GL_NORMAL_ARRAY, true);
        const BYTE* p = first + layout.normal;
        if (!SameArray(&d.normalArray, 3, GL_FLOAT, static_cast<GLsizei>(stride), p)) {
            glNormalPointer(GL_FLOAT, static_cast<GLsizei>(stride), p);
        }
    } else if (SwitchArray(&d.normalArray, GL_NORMAL_ARRAY, false)) {
        glNormal3f(0.0f, 0.0f, 0.0f);
    }
    const bool litSpecular = vertexLit && rs[D3DRS_SPECULARENABLE] != 0;
    if (vertexLit) {
        d.litDiffuse.resize(count);
        d.litSpecular.resize(litSpecular ? count : 0);
        LightVertices(d, world, view, first, count, {stride, layout.normal, layout.diffuse, layout.specular}, maxLights,
                      d.litDiffuse.data(), litSpecular ? d.litSpecular.data() : nullptr);
        SwitchArray(&d.colourArray, GL_COLOR_ARRAY, true);
        if (!SameArray(&d.colourArray, GL_BGRA, GL_UNSIGNED_BYTE, 0, d.litDiffuse.data())) {
            glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, 0, d.litDiffuse.data());
        }
    } else if (layout.diffuse >= 0) {
        SwitchArray(&d.colourArray, GL_COLOR_ARRAY, true);
        const BYTE* p = first + layout.diffuse;
        if (!SameArray(&d.colourArray, GL_BGRA, GL_UNSIGNED_BYTE, static_cast<GLsizei>(stride), p)) {
            glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, static_cast<GLsizei>(stride), p);
        }
    } else if (SwitchArray(&d.colourArray, GL_COLOR_ARRAY, false)) {
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    }
    // The specular colour of a draw lit here is added after texturing, as GL's own lighting does.
    SetCap(GL_COLOR_SUM, &d.capColourSum, litSpecular);
    SwitchArray(&d.secondaryArray, GL_SECONDARY_COLOR_ARRAY, litSpecular);
    if (litSpecular && !SameArray(&d.secondaryArray, GL_BGRA, GL_UNSIGNED_BYTE, 0, d.litSpecular.data())) {
        glSecondaryColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, 0, d.litSpecular.data());
    }
    if (lighting && !vertexLit && layout.diffuse >= 0 && rs[D3DRS_COLORVERTEX]) {
        const bool diffuseSrc = rs[D3DRS_DIFFUSEMATERIALSOURCE] == D3DMCS_COLOR1;
        const bool ambientSrc = rs[D3DRS_AMBIENTMATERIALSOURCE] == D3DMCS_COLOR1;
        if (diffuseSrc || ambientSrc) {
            const GLenum tracked = diffuseSrc && ambientSrc ? GL_AMBIENT_AND_DIFFUSE : diffuseSrc ? GL_DIFFUSE : GL_AMBIENT;
            if (d.colourMaterialMode != tracked || d.capColourMaterial != 1) {
                // The tracked part is chosen while tracking is off, then taken up.
                SetCap(GL_COLOR_MATERIAL, &d.capColourMaterial, false);
                glColorMaterial(GL_FRONT_AND_BACK, tracked);
                d.colourMaterialMode = tracked;
            }
            SetCap(GL_COLOR_MATERIAL, &d.capColourMaterial, true);
            d.dirty |= kDirtyMaterial;  // the draw writes vertex colours into the material
        } else {
            SetCap(GL_COLOR_MATERIAL, &d.capColourMaterial, false);
        }
    } else {
        SetCap(GL_COLOR_MATERIAL, &d.capColourMaterial, false);
    }
    for (int i = 0; i < touched; ++i) {
        const int set = static_cast<int>(d.stageStates[static_cast<size_t>(i)][D3DTSS_TEXCOORDINDEX] & 0xFFFF);
        GlArrayState* a = &d.texArrays[static_cast<size_t>(i)];
        if (i < active && set < layout.texCount) {
            const BYTE* p = first + layout.tex + 8 * set;
            const bool same = SameArray(a, 2, GL_FLOAT, static_cast<GLsizei>(stride), p);
            if (a->on != 1 || !same) {
                SelectClientUnit(d, i);
                SwitchArray(a, GL_TEXTURE_COORD_ARRAY, true);
                if (!same) glTexCoordPointer(2, GL_FLOAT, static_cast<GLsizei>(stride), p);
            }
        } else if (a->on != 0) {
            SelectClientUnit(d, i);
            SwitchArray(a, GL_TEXTURE_COORD_ARRAY, false);
            glMultiTexCoord4f(GL_TEXTURE0 + static_cast<GLenum>(i), 0.0f, 0.0f, 0.0f, 1.0f);
        }
    }
    d.enabledUnits = active;
    d.unitsKnown = true;
    if (fogVertex) {
        // The fog factor by eye distance (range) or eye depth, worked out and
        // held to 0..1 per vertex, then interpolated, as the platform does.
        float* fog = scratch + (pre ? static_cast<size_t>(count) * 4 : 0);
        D3DMATRIX wv;
        D3DXMatrixMultiply(&wv, &world, &view);
        const bool range = rs[D3DRS_RANGEFOGENABLE] != 0;
        const DWORD fogMode = rs[D3DRS_FOGVERTEXMODE];
        const float start = Bits(rs[D3DRS_FOGSTART]), end = Bits(rs[D3DRS_FOGEND]);
        const float density = Bits(rs[D3DRS_FOGDENSITY]);
        for (UINT i = 0; i < count; ++i) {
            float p[3];
            std::memcpy(p, first + static_cast<size_t>(i) * stride, sizeof(p));
            const float ex = p[0] * wv._11 + p[1] * wv._21 + p[2] * wv._31 + wv._41;
            const float ey = p[0] * wv._12 + p[1] * wv._22 + p[2] * wv._32 + wv._42;
            const float ez = p[0] * wv._13 + p[1] * wv._23 + p[2] * wv._33 + wv._43;
            const float dist = range ? std::sqrt(ex * ex + ey * ey + ez * ez) : std::fabs(ez);
            float f;
            if (fogMode == D3DFOG_EXP) {
                f = std::exp(-density * dist);
            } else if (fogMode == D3DFOG_EXP2) {
                f = std::exp(-(density * dist) * (density * dist));
            } else {
                f = end != start ? (end - dist) / (end - start) : (dist < end ? 1.0f : 0.0f);
            }
            fog[i] = f > 1.0f ? 1.0f : (f > 0.0f ? f : 0.0f);  // not a number: fully fogged
        }
        SwitchArray(&d.fogArray, GL_FOG_COORD_ARRAY, true);
        if (!SameArray(&d.fogArray, 1, GL_FLOAT, 0, fog)) glFogCoordPointer(GL_FLOAT, 0, fog);
    } else {
        SwitchArray(&d.fogArray, GL_FOG_COORD_ARRAY, false);
    }
    glDrawArrays(mode, 0, static_cast<GLsizei>(count));
    return D3D_OK;
}

HRESULT GlDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    auto* vb = dynamic_cast<GlVertexBuffer*>(draw_.stream);
    if (!vb || draw_.streamStride == 0) return D3DERR_INVALIDCALL;
    const std::vector<BYTE>& bytes = vb->Bytes();
    const std::uint64_t offset = static_cast<std::uint64_t>(startVertex) * draw_.streamStride;
    if (offset > bytes.size()) return D3DERR_INVALIDCALL;
    return DrawVertices(type, primitiveCount, bytes.data() + offset, draw_.streamStride,
                        static_cast<UINT>(bytes.size() - offset));
}

HRESULT GlDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride) {
    if (!vertices || stride == 0) return D3DERR_INVALIDCALL;
    GLenum mode;
    const UINT count = VertexCount(type, primitiveCount, &mode);
    const HRESULT hr = DrawVertices(type, primitiveCount, static_cast<const BYTE*>(vertices), stride,
                                    count == 0 ? 0 : (count - 1) * stride + LayoutOf(draw_.vertexShader).size);
    // The stream source is unset afterwards, as on the platform.
    SetStreamSource(0, nullptr, 0);
    return hr;
}

// Programmable vertex shaders are not offered by this device.
HRESULT GlDevice::CreateVertexShader(const DWORD*, const DWORD*, DWORD* handle, DWORD) {
    if (handle) *handle = 0;
    return D3DERR_INVALIDCALL;
}

HRESULT GlDevice::SetVertexShader(DWORD handle) {
    if (draw_.recording) {
        StateBlockEntry e{StateBlockEntry::kVertexShader};
        e.value = handle;
        draw_.Record(e);
        return D3D_OK;
    }
    draw_.vertexShader = handle;  // a vertex format code
    return D3D_OK;
}

HRESULT GlDevice::GetVertexShader(DWORD* handle) {
    if (!handle) return D3DERR_INVALIDCALL;
    *handle = draw_.vertexShader;
    return D3D_OK;
}

HRESULT GlDevice::DeleteVertexShader(DWORD) { return D3DERR_INVALIDCALL; }

HRESULT GlDevice::SetPixelShader(DWORD handle) {
    if (handle != 0) return D3DERR_INVALIDCALL;
    if (draw_.recording) {
        draw_.Record(StateBlockEntry{StateBlockEntry::kPixelShader});
        return D3D_OK;
    }
    draw_.pixelShader = 0;
    return D3D_OK;
}

HRESULT GlDevice::GetPixelShader(DWORD* handle) {
    if (!handle) return D3DERR_INVALIDCALL;
    *handle = draw_.pixelShader;
    return D3D_OK;
}
